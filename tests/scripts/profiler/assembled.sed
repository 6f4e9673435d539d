# The header's short date and "hh:mm:ss tt" time, and the blocks' addresses.
s#^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} (AM|PM)$#DATE TIME#
s#\t0x[0-9a-f]{1,8}\t#\t0xADDRESS\t#
