# The log's date and time, the memory figures and the run time.
s#^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} (AM|PM) : #TIME : #
s#^(TIME : Available memory ).*#\1N bytes#
s#^(TIME : Root ).*#\1ROOT#
s#^(TIME : DEBUG_TEXT.ZRK ended ).*#\1(N ms)#
