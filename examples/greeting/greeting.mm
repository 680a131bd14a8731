MM  greeting: the text at 0100, one character a word, ended by a word 0000
0100  0048  H
0101  0045  E
0102  004C  L
0103  004C  L
0104  004F  O
0105  002C  ,
0106  0020  blank
0107  004B  K
0108  0041  A
0109  004C  L
010A  0056  V
010B  004F  O
010C  002D  -
010D  0033  3
010E  0021  !
010F  000A  line end
0110  0000  end of text
