// Component text: the framework's readable form of a component stream, used to store objects
// (table definitions are kept in database files in this form, so it is a file format):
//
//   object Table1: TTableDef           "object TClass" when the object has no name
//     TableID = 3                       integers in decimal
//     TableName = 'Customer''s'         strings in apostrophes, '' for an apostrophe
//     Note = 'a'#13#10'b'               bytes below 32 and above 126 as #nnn outside the quotes
//     Encrypted = False                 Booleans and enumeration values as identifiers
//     Options = [ixUnique, ixPrimary]   sets; "[]" for an empty set
//     Rate = 0.1                        floats (below)
//     Font.Size = 8                     properties of a sub-object
//     Lines.Strings = (                 lists
//       'one'
//       'two')
//     KeyFields = <                     collections; "<>" when empty
//       item
//         FieldName = 'Name'
//       end>
//     object Child: TChildClass         owned components, nested
//     end
//   end
//
// Writing: two blanks of indentation per level; lines end in CR LF, the last one too. A string
// longer than 64 bytes starts on a line of its own below the property and is cut into pieces of
// at most 64 bytes, one piece per line, joined by " +" at the end of each line but the last;
// pieces are indented one level deeper than the property. Floats are written as the shortest
// decimal text that reads back to the same double (1.5, 0.1, 1E300, -0.0, 5E-324), always with a
// "." or an exponent ("2.0"), so that every double round-trips bit for bit; infinities and NaN
// (of any payload) are written as the identifiers INF, -INF and NAN.
//
// Reading accepts any blanks, tabs and line ends (CR LF, LF or CR) between tokens; keywords,
// True/False/nil and identifiers ignore case; integers may be "$" hexadecimal; "#$hh" is a
// character in hexadecimal. Properties precede nested objects. Objects, lists and collections
// nest at most ComponentTextMaxNesting levels (together): the text is read from files, and a
// deeper one raises "Nesting deeper than 256 levels on line <n>" instead of exhausting the stack.
// A syntax error raises EParserError "<what> on line <n>"; errors of meaning (unknown property,
// value that does not fit) are those of TReader (Filer.h).
#pragma once
#include <string>

#include "host/Component.h"
#include "host/Filer.h"
#include "host/Object.h"
#include "host/Streams.h"

namespace ostra {

// The deepest nesting of objects, lists and collections that the reader accepts.
inline constexpr int ComponentTextMaxNesting = 256;

// The text of `Root`: a component with its children, any other persistent object as
// "object <ObjectName>: <class>" (a component always uses its own Name).
std::string ObjectToText(const TPersistent* Root, const std::string& ObjectName = {});
// Reads `Text` into `Root` (see Filer.h for how an existing object is filled).
void TextToObject(const std::string& Text, TPersistent* Root);

std::string ComponentToText(const TComponent* Root);
void TextToComponent(const std::string& Text, TComponent* Root);

// The same through streams: the text is written at the stream's position, and read from the
// stream's position to its end.
void ComponentToText(const TComponent* Root, TStream& Stream);
void TextToComponent(TStream& Stream, TComponent* Root);
void ObjectToText(const TPersistent* Root, TStream& Stream, const std::string& ObjectName = {});
void TextToObject(TStream& Stream, TPersistent* Root);

// The two halves of the conversion, between text and token stream.
std::string ObjectTokensToText(const TTokenStream& Tokens);
TTokenStream ObjectTextToTokens(const std::string& Text);

}  // namespace ostra
