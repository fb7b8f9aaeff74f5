#include "store/strong_key_file.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace vantory {

namespace {

constexpr std::string_view kFirstLine = "vantory strong key ";
constexpr unsigned kVersion = 1;
constexpr size_t kLines = 6;

std::string hexOf(const auto& bytes) {
    return toHex(bytes.data(), bytes.size());
}

// A decimal number without sign or leading zeros that fits 32 bits.
std::optional<uint32_t> numberOf(std::string_view text) {
    uint32_t value = 0;
    if (text.empty() || (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The bytes of "<name>=<hex>" into `to`, which they must fill exactly.
template <size_t N>
bool field(std::string_view line, std::string_view name, std::array<uint8_t, N>& to) {
    std::string bytes;
    if (!line.starts_with(name) || line.substr(name.size(), 1) != "=" ||
        !fromHex(line.substr(name.size() + 1), bytes) || bytes.size() != N) {
        return false;
    }
    std::memcpy(to.data(), bytes.data(), N);
    return true;
}

// "argon2id passes=<t> memory=<m> lanes=<p>".
std::optional<KdfParameters> costsOf(std::string_view line) {
    constexpr std::string_view kNames[] = {"argon2id passes=", " memory=", " lanes="};
    uint32_t values[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        if (!line.starts_with(kNames[i])) {
            return std::nullopt;
        }
        line.remove_prefix(kNames[i].size());
        const size_t end = i < 2 ? line.find(' ') : line.size();
        const std::optional<uint32_t> value = numberOf(line.substr(0, end));
        if (!value || end == std::string_view::npos) {
            return std::nullopt;
        }
        values[i] = *value;
        line.remove_prefix(end);
    }
    return KdfParameters{values[0], values[1], values[2]};
}

}  // namespace

std::string formatStrongKeyRecord(const WrappedKey& key) {
    std::string text = std::string(kFirstLine) + std::to_string(kVersion) + "\n";
    text += "argon2id passes=" + std::to_string(key.kdf.passes) +
            " memory=" + std::to_string(key.kdf.memoryKib) +
            " lanes=" + std::to_string(key.kdf.lanes) + "\n";
    text += "salt=" + hexOf(key.salt) + "\n";
    text += "nonce=" + hexOf(key.nonce) + "\n";
    text += "wrapped=" + hexOf(key.sealed) + "\n";
    return text + "check=" + hexOf(sha256(text)) + "\n";
}

std::optional<WrappedKey> parseStrongKeyRecord(std::string_view text, std::string& problem) {
    const size_t firstEnd = text.find('\n');
    const std::string_view first = text.substr(0, firstEnd);
    const std::optional<uint32_t> version =
        first.starts_with(kFirstLine) ? numberOf(first.substr(kFirstLine.size())) : std::nullopt;
    if (!version || firstEnd == std::string_view::npos) {
        problem = "it is not a strong store's key record";
        return std::nullopt;
    }
    if (*version != kVersion) {
        problem = *version > kVersion ? "it was written by a newer version of Vantory"
                                      : "it is not a strong store's key record";
        return std::nullopt;
    }
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            problem = "it is cut short";
            return std::nullopt;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < kLines) {
        problem = "it is cut short";
        return std::nullopt;
    }
    const size_t checked = static_cast<size_t>(lines[kLines - 1].data() - text.data());
    std::array<uint8_t, 32> check{};
    if (lines.size() > kLines || !field(lines[kLines - 1], "check", check) ||
        check != sha256(text.substr(0, checked))) {
        problem = "it is damaged (its check does not match what it holds)";
        return std::nullopt;
    }
    WrappedKey key;
    const std::optional<KdfParameters> costs = costsOf(lines[1]);
    if (!costs || !field(lines[2], "salt", key.salt) || !field(lines[3], "nonce", key.nonce) ||
        !field(lines[4], "wrapped", key.sealed)) {
        problem = "it is damaged (a line does not hold what Vantory writes there)";
        return std::nullopt;
    }
    if (!acceptableKdfParameters(*costs)) {
        problem = "its key-derivation costs are beyond what Vantory accepts";
        return std::nullopt;
    }
    key.kdf = *costs;
    return key;
}

}  // namespace vantory
