MM  lines ended by CR LF
0000  0AAA
0001  0BBB
