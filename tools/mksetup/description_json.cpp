// Setup descriptions in JSON.
//
// A description is one JSON object; every key is optional, unknown keys are
// errors, and so is a key repeated within one object. Comments (// and /* */)
// are allowed.
//
// {
//   "check": true,                  // store check flag 1 (the stub verifies
//                                   // the CRC); false stores 0. Default true.
//   "settingsEncoding": "utf-8",    // "utf-8" (default) writes the narrow
//                                   // strings as UTF-8 bytes; "latin1" writes
//                                   // one byte per character and refuses
//                                   // characters above U+00FF. Applies to
//                                   // settings, group prefixes and file names.
//   "settings": { "107": "1", "2001": "i", "146": "${TEMP}", "300": 42 },
//                                   // id -> value. Ids are decimal int32 texts
//                                   // in canonical form ("-5", not "+5" or
//                                   // "05"); values are strings, or integers
//                                   // written as decimal text.
//   "messages": { "1000": "Error" },// id -> text, written as UTF-16LE
//                                   // (characters beyond U+FFFF as surrogate
//                                   // pairs).
//   "groups": [                     // localized messages, in this order
//     { "prefix": "de", "messages": { "1000": "Fehler" } }
//   ],
//   "files": [                      // the payload, in this order
//     { "name": "app.jar", "source": "build/app.jar" },
//     { "name": "sub\\notes.txt", "text": "inline content" }
//   ],
//   "trailing": { "source": "extra.bin" }   // or { "text": "..." }: raw bytes
//                                           // after the payload entries
// }
//
// Each file has a "name" (relative Windows name, unique ignoring ASCII case,
// without ";") and exactly one of "source" (a path, relative paths resolved
// against the description's directory) or "text" (the UTF-8 bytes of the
// string). Keys 2002 (number of files) and 2003 (names joined with ";") are
// added to the settings unless "settings" sets them. Strings written for the
// stub (settings, messages, prefixes, file names) must not contain U+0000,
// which the stub would read as the end of the text.
#include "description_json.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace mksetup {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// Carries a message that already names the offending key.
struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void bad(const std::string& where, const std::string& message) {
    throw DescriptionError(where.empty() ? message : where + ": " + message);
}

std::string keyPath(const std::string& parent, const std::string& key) {
    return parent + "[\"" + key + "\"]";
}

std::string memberPath(const std::string& parent, const std::string& key) {
    return parent.empty() ? key : parent + "." + key;
}

std::string indexPath(const std::string& parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

// Tracks where the parser is, to name a key that occurs twice in an object
// (nlohmann would silently keep the last one).
class DuplicateKeyCheck {
public:
    bool operator()(int /*depth*/, nlohmann::detail::parse_event_t event, Json& parsed) {
        using Event = nlohmann::detail::parse_event_t;
        switch (event) {
            case Event::object_start:
            case Event::array_start:
                frames_.push_back({event == Event::object_start, childPath(), {}, {}, 0});
                break;
            case Event::object_end:
            case Event::array_end:
                if (!frames_.empty()) frames_.pop_back();
                break;
            case Event::key: {
                Frame& frame = frames_.back();
                const std::string key = parsed.get<std::string>();
                if (!frame.keys.insert(key).second) {
                    bad("", "duplicate key \"" + key + "\"" +
                                (frame.path.empty() ? std::string(" at the top level")
                                                    : " in " + frame.path));
                }
                frame.lastKey = key;
                break;
            }
            case Event::value:
                childPath();  // counts array elements
                break;
        }
        return true;
    }

private:
    struct Frame {
        bool isObject;
        std::string path;
        std::set<std::string> keys;
        std::string lastKey;
        std::size_t elements;
    };

    // The path of the value starting now.
    std::string childPath() {
        if (frames_.empty()) return "";
        Frame& parent = frames_.back();
        if (parent.isObject) {
            return memberPath(parent.path, parent.lastKey);
        }
        return indexPath(parent.path, parent.elements++);
    }

    std::vector<Frame> frames_;
};

void requireType(const Json& value, Json::value_t type, const char* typeName, const std::string& where) {
    if (value.type() != type) bad(where, std::string("expected ") + typeName + ", got " + value.type_name());
}

void requireObject(const Json& value, const std::string& where) {
    requireType(value, Json::value_t::object, "an object", where);
}

const std::string& stringOf(const Json& value, const std::string& where) {
    requireType(value, Json::value_t::string, "a string", where);
    return value.get_ref<const std::string&>();
}

void allowOnly(const Json& object, std::initializer_list<const char*> keys, const std::string& where) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : keys) known = known || item.key() == key;
        if (!known) {
            std::string list;
            for (const char* key : keys) list += std::string(list.empty() ? "" : ", ") + "\"" + key + "\"";
            bad(memberPath(where, item.key()), "unknown key (allowed: " + list + ")");
        }
    }
}

// Canonical decimal int32: optional "-", no leading zeros, no "-0".
std::int32_t parseId(const std::string& text, const std::string& where) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    bool ok = !digits.empty() && digits.size() <= 10;
    for (char c : digits) ok = ok && c >= '0' && c <= '9';
    if (!ok || (digits.size() > 1 && digits[0] == '0') || (negative && digits == "0")) {
        bad(where, "id is not a decimal integer in canonical form");
    }
    long long value = std::stoll(text);
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        bad(where, "id is out of the 32-bit signed range");
    }
    return static_cast<std::int32_t>(value);
}

void rejectNul(const std::string& text, const std::string& where) {
    if (text.find('\0') != std::string::npos) bad(where, "contains U+0000, which ends the text for the stub");
}

class DescriptionReader {
public:
    explicit DescriptionReader(std::string baseDir) : baseDir_(std::move(baseDir)) {}

    SetupDescription read(const Json& root) {
        requireObject(root, "description");
        allowOnly(root, {"check", "settingsEncoding", "settings", "messages", "groups", "files", "trailing"},
                  "");
        SetupDescription description;
        // Read first: it decides how the narrow strings below are written.
        if (root.contains("settingsEncoding")) {
            const std::string& encoding = stringOf(root["settingsEncoding"], "settingsEncoding");
            if (encoding == "latin1") {
                latin1_ = true;
            } else if (encoding != "utf-8") {
                bad("settingsEncoding", "must be \"utf-8\" or \"latin1\", got \"" + encoding + "\"");
            }
        }
        if (root.contains("check")) {
            requireType(root["check"], Json::value_t::boolean, "true or false", "check");
            description.checkFlag = root["check"].get<bool>();
        }
        if (root.contains("settings")) readSettings(root["settings"], description);
        if (root.contains("messages")) description.messages = readMessages(root["messages"], "messages");
        if (root.contains("groups")) readGroups(root["groups"], description);
        if (root.contains("files")) readFiles(root["files"], description);
        if (root.contains("trailing")) description.trailing = readContent(root["trailing"], "trailing");
        return description;
    }

private:
    std::string narrow(const std::string& utf8, const std::string& where) const {
        rejectNul(utf8, where);
        if (!latin1_) return utf8;
        std::string out;
        std::string error;
        if (!utf8ToLatin1(utf8, out, &error)) bad(where, error);
        return out;
    }

    void readSettings(const Json& settings, SetupDescription& description) const {
        requireObject(settings, "settings");
        for (const auto& item : settings.items()) {
            const std::string where = keyPath("settings", item.key());
            const std::int32_t id = parseId(item.key(), where);
            const Json& value = item.value();
            std::string text;
            if (value.is_string()) {
                text = narrow(value.get_ref<const std::string&>(), where);
            } else if (value.is_number_integer()) {  // signed and unsigned
                text = value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                                  : std::to_string(value.get<std::int64_t>());
            } else {
                bad(where, std::string("expected a string or an integer, got ") +
                               (value.is_number_float() ? "a fractional number" : value.type_name()));
            }
            description.settings.emplace_back(id, std::move(text));
        }
    }

    std::vector<Message> readMessages(const Json& messages, const std::string& path) const {
        requireObject(messages, path);
        std::vector<Message> result;
        for (const auto& item : messages.items()) {
            const std::string where = keyPath(path, item.key());
            Message message;
            message.id = parseId(item.key(), where);
            const std::string& text = stringOf(item.value(), where);
            rejectNul(text, where);
            std::string error;
            if (!utf8ToUtf16(text, message.text, &error)) bad(where, error);
            result.push_back(std::move(message));
        }
        return result;
    }

    void readGroups(const Json& groups, SetupDescription& description) const {
        requireType(groups, Json::value_t::array, "an array", "groups");
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const std::string where = indexPath("groups", i);
            const Json& group = groups[i];
            requireObject(group, where);
            allowOnly(group, {"prefix", "messages"}, where);
            if (!group.contains("prefix")) bad(where, "missing \"prefix\"");
            LanguageGroup result;
            result.prefix = narrow(stringOf(group["prefix"], where + ".prefix"), where + ".prefix");
            if (group.contains("messages")) result.messages = readMessages(group["messages"], where + ".messages");
            description.groups.push_back(std::move(result));
        }
    }

    void readFiles(const Json& files, SetupDescription& description) const {
        requireType(files, Json::value_t::array, "an array", "files");
        std::vector<std::string> keys;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string where = indexPath("files", i);
            const Json& file = files[i];
            requireObject(file, where);
            allowOnly(file, {"name", "source", "text"}, where);
            if (!file.contains("name")) bad(where, "missing \"name\"");
            PayloadFile result;
            result.name = narrow(stringOf(file["name"], where + ".name"), where + ".name");
            std::string error;
            if (!checkFileName(result.name, &error)) bad(where + ".name", error);
            const std::string key = fileNameKey(result.name);
            for (std::size_t j = 0; j < keys.size(); ++j) {
                if (keys[j] == key) {
                    bad(where + ".name", "duplicate file name \"" + stringOf(file["name"], "") +
                                             "\" (same as " + indexPath("files", j) + ")");
                }
            }
            keys.push_back(key);
            result.data = readContent(file, where);
            description.files.push_back(std::move(result));
        }
    }

    // An object with exactly one of "source" and "text".
    Bytes readContent(const Json& holder, const std::string& where) const {
        requireObject(holder, where);
        if (where == "trailing") allowOnly(holder, {"source", "text"}, where);
        const bool hasSource = holder.contains("source");
        const bool hasText = holder.contains("text");
        if (hasSource == hasText) bad(where, "needs exactly one of \"source\" and \"text\"");
        if (hasText) {
            const std::string& text = stringOf(holder["text"], where + ".text");
            return Bytes(text.begin(), text.end());
        }
        const std::string& source = stringOf(holder["source"], where + ".source");
        if (source.empty()) bad(where + ".source", "is empty");
        fs::path path = fs::u8path(source);
        if (path.is_relative() && !baseDir_.empty()) path = fs::u8path(baseDir_) / path;
        Bytes data;
        std::string error;
        if (!readFile(path.u8string(), data, &error)) bad(where + ".source", error);
        return data;
    }

    std::string baseDir_;
    bool latin1_ = false;
};

// nlohmann prefixes its messages with "[json.exception.parse_error.101] ".
std::string withoutExceptionTag(const std::string& message) {
    if (!message.empty() && message[0] == '[') {
        const std::size_t end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Narrow strings have no declared encoding: shown as UTF-8 when they are
// valid UTF-8, otherwise byte by byte as Latin-1.
std::string displayNarrow(const std::string& text) {
    return isValidUtf8(text) ? text : latin1ToUtf8(text);
}

Json messagesJson(const std::vector<Message>& messages) {
    Json object = Json::object();
    // A repeated id: the stub keeps the later text, and so does this object.
    for (const Message& message : messages) object[std::to_string(message.id)] = utf16ToUtf8(message.text);
    return object;
}

}  // namespace

std::optional<SetupDescription> parseDescription(const std::string& jsonText,
                                                 const std::string& baseDir, std::string* error) {
    try {
        const Json root = Json::parse(jsonText, DuplicateKeyCheck(), true, true);
        return DescriptionReader(baseDir).read(root);
    } catch (const DescriptionError& e) {
        if (error) *error = e.what();
    } catch (const nlohmann::json::exception& e) {
        if (error) *error = withoutExceptionTag(e.what());
    }
    return std::nullopt;
}

std::string inspectionToJson(const InspectResult& result) {
    Json out;
    out["blockStart"] = result.blockStart;
    out["checkFlag"] = result.checkFlag;
    out["storedCrc"] = hex32(result.storedCrc);
    out["computedCrc"] = hex32(result.computedCrc);
    out["crcMatches"] = result.checkedRangeComplete && result.storedCrc == result.computedCrc;
    out["checkedLength"] = result.checkedLength;
    out["checkedRangeComplete"] = result.checkedRangeComplete;
    Json settings = Json::object();
    for (const auto& setting : result.settings) settings[std::to_string(setting.first)] = displayNarrow(setting.second);
    out["settings"] = std::move(settings);
    out["messages"] = messagesJson(result.messages);
    Json groups = Json::array();
    for (const LanguageGroup& group : result.groups) {
        Json entry;
        entry["prefix"] = displayNarrow(group.prefix);
        entry["messages"] = messagesJson(group.messages);
        groups.push_back(std::move(entry));
    }
    out["groups"] = std::move(groups);
    out["payloadOffset"] = result.payloadOffset;
    Json payload = Json::array();
    for (const PayloadEntryInfo& entry : result.payload) {
        Json item;
        item["name"] = displayNarrow(entry.name);
        item["length"] = entry.length;
        item["offset"] = entry.offset;
        payload.push_back(std::move(item));
    }
    out["payload"] = std::move(payload);
    out["trailingBytes"] = result.trailingBytes;
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace mksetup
