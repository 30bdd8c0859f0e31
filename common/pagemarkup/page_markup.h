#pragma once
// Reads what the stand-in engine shows of a page from its markup: the title and the page's calls of the
// bound functions "onJsCall" and "jsCall" with literal arguments, each labelled with the text of the
// element that holds it (onclick="onJsCall('btn','maximize')" on <a>Maximise</a> gives a button
// "Maximise" calling onJsCall("btn", "maximize")). Portable: UTF-16 text in, no platform calls.
#include <string>
#include <string_view>
#include <vector>

namespace vantorix::pagemarkup {

struct CallArgument {
    bool is_number = false;
    std::u16string text;  // the string's value, or the number as written
};

struct PageCall {
    std::u16string label;
    std::string function;  // "onJsCall" or "jsCall"
    std::vector<CallArgument> args;
    std::string trigger;   // the lower-case attribute holding the call ("onclick", "onmousedown"); "" if none
};

struct Page {
    std::u16string title;
    std::vector<PageCall> calls;
};

Page ParsePage(std::u16string_view html);

// A whole expression that is one literal (a string in quotes or a number); false otherwise.
bool ParseLiteral(std::u16string_view text, CallArgument& out);
// A whole expression "name(literal, ...)" (blanks allowed around the parts, the name may hold dots);
// false otherwise.
bool ParseCallExpression(std::u16string_view text, std::string& function, std::vector<CallArgument>& args);

// Decodes the character references of HTML text (&amp; &lt; &gt; &quot; &apos; &nbsp; &#NN; &#xHH;);
// unknown ones stay as written.
std::u16string DecodeEntities(std::u16string_view text);

// Where the stand-in draws button `index` of a page in a view `width` pixels wide: a grid below the
// header, left to right, then down.
struct Box {
    int left, top, right, bottom;
};
Box ButtonBox(int index, int width);
// The button under a point, or -1.
int ButtonAt(int x, int y, int count, int width);

}  // namespace vantorix::pagemarkup
