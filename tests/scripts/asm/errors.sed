# Positions inside the assembler text are not what these tests check.
s/ \(-?[0-9]+,-?[0-9]+\)//g
