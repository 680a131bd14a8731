MM  a second file keeps the words of the first
0200  0200
0104  0011
