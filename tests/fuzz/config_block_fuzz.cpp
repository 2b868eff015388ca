// libFuzzer target: arbitrary bytes as an executable image with its
// appended block, plus the command-line splitter and the expansion on the
// same input. Build with scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/block_format.h"
#include "launcher/cmdline.h"
#include "launcher/expand_core.h"
#include "log_stub.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
    std::uint64_t at;
};

bool readMemory(void* context, void* buffer, std::uint32_t size, std::uint32_t* got) {
    auto* m = static_cast<Memory*>(context);
    std::uint64_t left = m->at < m->size ? m->size - m->at : 0;
    std::uint32_t n = static_cast<std::uint32_t>(left < size ? left : size);
    if (n) std::memcpy(buffer, m->data + m->at, n);
    m->at += n;
    *got = n;
    return true;
}

bool seekMemory(void* context, std::uint32_t position) {
    static_cast<Memory*>(context)->at = position;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    loggedFormats().clear();
    Memory memory{data, size, 0};
    ByteSource source;
    source.context = &memory;
    source.read = readMemory;
    source.seek = seekMemory;
    source.size = size;
    ConfigStore store;
    // Both ways in: through the PE headers, and the block at offset 0.
    if (seekToAppendedData(source) == BlockError::None) {
        parseConfigBlock(source, store, [] { return std::string("de_CH"); });
    }
    memory.at = 0;
    source.position = 0;
    parseConfigBlock(source, store, [] { return std::string("en"); });

    std::wstring text;
    for (std::size_t i = 0; i + 1 < size && i < 4096; i += 2) {
        wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c) text.push_back(c);
    }
    std::vector<std::wstring> args;
    splitCommandLine(text.c_str(), args);
    ExpansionValues<wchar_t> values;
    values.executableDirectory = L"C:\\app\\";
    values.jvmHome = L"${launcher:sys.jvmHome}";
    values.environment = {{L"A", L"${A}${A}"}, {L"", L"x"}};
    expandWithValues(text, values);
    return 0;
}
