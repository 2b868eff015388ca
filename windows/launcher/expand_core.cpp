#include "launcher/expand_core.h"

#include "launcher/log.h"

namespace {

void logSubstitution(const std::wstring& pattern, const std::wstring& replacement,
                     const std::wstring& text) {
    logMessage(L"expanding2 %s to %s in %s.", pattern.c_str(), replacement.c_str(), text.c_str());
}

void logSubstitution(const std::string& pattern, const std::string& replacement,
                     const std::string& text) {
    logMessage(L"expanding2 %S to %S in %S.", pattern.c_str(), replacement.c_str(), text.c_str());
}

template <class S>
void replaceAllImpl(S& text, const S& pattern, const S& replacement) {
    if (pattern.empty()) return;
    std::size_t at = 0;
    while ((at = text.find(pattern, at)) != S::npos) {
        text.replace(at, pattern.size(), replacement);
        at += replacement.size();
        logSubstitution(pattern, replacement, text);
    }
}

template <class Ch>
std::basic_string<Ch> widenAscii(const char* s) {
    std::basic_string<Ch> out;
    for (; *s; ++s) out.push_back(static_cast<Ch>(*s));
    return out;
}

template <class Ch>
void expandImpl(std::basic_string<Ch>& text, const ExpansionValues<Ch>& v) {
    using S = std::basic_string<Ch>;
    const S separator = widenAscii<Ch>(";");
    const struct {
        const char* pattern;
        const S* value;
    } builtins[] = {
        {"%TARKO_EXEDIR%", &v.executableDirectory},
        {"%CORVALINE_EXEDIR%", &v.executableDirectory},
        {"%TARKO_TEMPDIR%", &v.extractionDirectory},
        {"%CORVALINE_TEMPDIR%", &v.extractionDirectory},
        {"%TARKO_PATHLIST_SEPARATOR%", &separator},
        {"%CORVALINE_PATHLIST_SEPARATOR%", &separator},
        {"%TARKO_JVM_HOME%", &v.jvmHome},
        {"%CORVALINE_JVM_HOME%", &v.jvmHome},
        {"${TARKO_EXEDIR}", &v.executableDirectory},
        {"${CORVALINE_EXEDIR}", &v.executableDirectory},
        {"${TARKO_TEMPDIR}", &v.extractionDirectory},
        {"${CORVALINE_TEMPDIR}", &v.extractionDirectory},
        {"${TARKO_PATHLIST_SEPARATOR}", &separator},
        {"${CORVALINE_PATHLIST_SEPARATOR}", &separator},
        {"${TARKO_JVM_HOME}", &v.jvmHome},
        {"${CORVALINE_JVM_HOME}", &v.jvmHome},
        {"${launcher:sys.launcherDirectory}", &v.executableDirectory},
        {"${launcher:sys.launcherTempDirectory}", &v.extractionDirectory},
        {"${launcher:sys.pathlistSeparator}", &separator},
        {"${launcher:sys.jvmHome}", &v.jvmHome},
        {"${launcher:sys.tempDir}", &v.tempDirectory},
    };
    for (const auto& b : builtins) replaceAllImpl(text, widenAscii<Ch>(b.pattern), *b.value);

    for (const auto& entry : v.environment) {
        S pattern = widenAscii<Ch>("${") + entry.first + widenAscii<Ch>("}");
        replaceAllImpl(text, pattern, entry.second);
        for (Ch& c : pattern) {
            if (c >= 'a' && c <= 'z') c = static_cast<Ch>(c - 'a' + 'A');
        }
        replaceAllImpl(text, pattern, entry.second);
    }
}

template <class Ch>
std::vector<std::pair<std::basic_string<Ch>, std::basic_string<Ch>>> parseBlock(const Ch* block) {
    std::vector<std::pair<std::basic_string<Ch>, std::basic_string<Ch>>> entries;
    if (!block) return entries;
    while (*block) {
        std::basic_string<Ch> entry(block);
        block += entry.size() + 1;
        // Names may start with '=' (per-drive directories); the separator is
        // the first '=' after the first character.
        std::size_t eq = entry.find(static_cast<Ch>('='), 1);
        if (eq == std::basic_string<Ch>::npos) continue;
        entries.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return entries;
}

}  // namespace

void replaceAll(std::wstring& text, const std::wstring& pattern, const std::wstring& replacement) {
    replaceAllImpl(text, pattern, replacement);
}

void replaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
    replaceAllImpl(text, pattern, replacement);
}

void expandWithValues(std::wstring& text, const ExpansionValues<wchar_t>& values) {
    expandImpl(text, values);
}

void expandWithValues(std::string& text, const ExpansionValues<char>& values) {
    expandImpl(text, values);
}

std::vector<std::pair<std::wstring, std::wstring>> parseEnvironmentBlock(const wchar_t* block) {
    return parseBlock(block);
}

std::vector<std::pair<std::string, std::string>> parseEnvironmentBlock(const char* block) {
    return parseBlock(block);
}
