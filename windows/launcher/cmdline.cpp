#include "launcher/cmdline.h"

#include <cwchar>

void splitCommandLine(const wchar_t* commandLine, std::vector<std::wstring>& args) {
    if (!commandLine) return;
    const std::wstring text(commandLine);
    const std::size_t npos = std::wstring::npos;
    std::size_t cursor = 0;
    while (cursor < text.size()) {
        std::size_t space = text.find(L' ', cursor);
        std::size_t dquote = text.find(L'"', cursor);
        std::size_t squote = text.find(L'\'', cursor);
        if (text[cursor] == L' ') {
            ++cursor;  // each space is skipped on its own
            continue;
        }
        if (space != npos && (dquote == npos || space < dquote) && (squote == npos || space < squote)) {
            args.push_back(text.substr(cursor, space - cursor));
            cursor = space + 1;
            continue;
        }
        std::size_t quotePos;
        if (dquote != npos && (squote == npos || dquote < squote)) {
            quotePos = dquote;
        } else if (squote != npos) {
            quotePos = squote;
        } else {
            args.push_back(text.substr(cursor));
            break;
        }
        const wchar_t quote = text[quotePos];
        std::size_t close = text.find(quote, quotePos + 1);
        if (close == npos) close = text.size();
        std::wstring token = text.substr(cursor, quotePos - cursor);
        token.append(text, quotePos + 1, close - quotePos - 1);
        args.push_back(std::move(token));
        cursor = close < text.size() ? close + 1 : close;
        if (cursor < text.size() && text[cursor] == L' ') ++cursor;
    }
}
