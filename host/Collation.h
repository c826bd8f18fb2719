// The two string orders of the system over Windows-1252 text: the fixed dictionary order
// behind soANSI and the framework's Ansi* routines, and plain byte order behind soASCII.
// Neither depends on the locale of the process, so an index sorted on one machine is in
// order on every other.
//
// The dictionary order compares two strings in up to four passes over their full length;
// a later pass counts only when every earlier one found the strings equal:
//   1. primary    the characters' primary weights (table below): case and accents ignored,
//                 ligatures read as two letters (æ = ae, œ = oe, ß = ss); a string that is
//                 a prefix of the other sorts first;
//   2. accents    the accent of each character, in the order of the accent column, first
//                 difference decides (plain < acute < grave < ... < ligature);
//   3. case       lower case before upper case, first difference decides;
//   4. bytes      the bytes themselves (so distinct strings are never equal).
// AnsiCompareStr uses all four passes and is a total order in which only identical strings
// compare equal. AnsiCompareText uses passes 1 and 2 and then compares the strings with
// their letters lower-cased, so it equates exactly the strings that differ only in case.
//
// Primary order, lowest first:
//   | group    | bytes, in order                                                           |
//   |----------|---------------------------------------------------------------------------|
//   | controls | 00-1F, 7F, then the five unassigned bytes 81 8D 8F 90 9D; each distinct  |
//   | symbols  | every other non-letter, non-digit byte, each distinct, in the order of    |
//   |          | its Unicode code point: blank ! " # $ % & ' ( ) * + , - . / : ; < = > ?   |
//   |          | @ [ \ ] ^ _ ` { | } ~, A0 (no-break space) A1-A9 AB-B1 B4 B6-B8 BB-BF D7  |
//   |          | F7, then ˆ(88) ˜(98) –(96) —(97) ‘(91) ’(92) ‚(82) “(93) ”(94) „(84)     |
//   |          | †(86) ‡(87) •(95) …(85) ‰(89) ‹(8B) ›(9B) €(80) ™(99)                    |
//   | digits   | 0 1 2 3 4 5 6 7 8 9   (¹ ² ³ weigh as 1 2 3 with the superscript accent) |
//   | letters  | a b c d e f g h i j k l m n o p q r s t u v w x y z þ µ                 |
//
// Letters that share a primary weight, with their accent (upper case in brackets):
//   | primary | characters and accent                                                     |
//   |---------|---------------------------------------------------------------------------|
//   | a       | a(A) plain, á(Á) acute, à(À) grave, â(Â) circumflex, ã(Ã) tilde,         |
//   |         | ä(Ä) diaeresis, å(Å) ring, ª ordinal                                     |
//   | a + e   | æ(Æ) ligature                                                             |
//   | c       | ç(Ç) cedilla                                                              |
//   | d       | ð(Ð) stroke                                                               |
//   | e       | é(É) acute, è(È) grave, ê(Ê) circumflex, ë(Ë) diaeresis                  |
//   | f       | ƒ hook                                                                    |
//   | i       | í(Í) acute, ì(Ì) grave, î(Î) circumflex, ï(Ï) diaeresis                  |
//   | n       | ñ(Ñ) tilde                                                                |
//   | o       | ó(Ó) acute, ò(Ò) grave, ô(Ô) circumflex, õ(Õ) tilde, ö(Ö) diaeresis,     |
//   |         | ø(Ø) stroke, º ordinal                                                   |
//   | o + e   | œ(Œ) ligature                                                             |
//   | s       | š(Š) caron;  s + s: ß ligature                                            |
//   | u       | ú(Ú) acute, ù(Ù) grave, û(Û) circumflex, ü(Ü) diaeresis                  |
//   | y       | ý(Ý) acute, ÿ(Ÿ) diaeresis                                               |
//   | z       | ž(Ž) caron                                                                |
//   | þ       | þ(Þ)            µ: µ (micro sign, no upper case)                          |
// Accent order: plain, acute, grave, circumflex, tilde, diaeresis, ring, cedilla, caron,
// stroke, hook, ordinal/superscript, ligature.
//
// Case mapping pairs the letters above (a-z, à-þ except ÷/× , š/Š, œ/Œ, ž/Ž, ÿ/Ÿ); ß, µ, ª,
// º and ƒ have no other case in Windows-1252 and map to themselves.
#pragma once
#include <string>

namespace ostra {

// Dictionary order (soANSI), case-sensitive: compares the full length of both strings.
// Negative, 0 or positive as a sorts before, equal to or after b; 0 only for equal strings.
int AnsiCompareStr(const std::string& a, const std::string& b);
// Dictionary order (soANSI), ignoring case: 0 exactly when the strings differ only in case.
int AnsiCompareText(const std::string& a, const std::string& b);
bool AnsiSameText(const std::string& a, const std::string& b);
bool AnsiSameStr(const std::string& a, const std::string& b);
// The same orders over byte ranges that need no terminator (zero bytes take part as the
// lowest control character).
int AnsiCompareBuf(const char* a, int lenA, const char* b, int lenB, bool caseInsensitive);

// Windows-1252 case mapping (letters with accents included).
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);

}  // namespace ostra
