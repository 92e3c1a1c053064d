#include "support/unicode.hpp"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <climits>
#include <stdexcept>

#include "support/library.hpp"

namespace support::unicode {

namespace {

// What the program asks of ICU. Its C functions carry the library's major version in
// their names (u_isalpha_72), as its headers spell them.
struct Icu {
    decltype(&u_charDigitValue) char_digit_value = nullptr;
    decltype(&u_isalpha) is_alpha = nullptr;
    decltype(&u_getNumericValue) numeric_value = nullptr;
    decltype(&u_getIntPropertyValue) int_property_value = nullptr;
    decltype(&u_totitle) to_title = nullptr;
    decltype(&u_strFromUTF8WithSub) from_utf8 = nullptr;
    decltype(&u_strToUTF8WithSub) to_utf8 = nullptr;
    decltype(&u_strToLower) to_lower = nullptr;
    decltype(&unorm2_getNFKDInstance) nfkd_instance = nullptr;
    decltype(&unorm2_normalize) normalize = nullptr;
};

#define VEMTORA_ICU_NAME_TEXT(name) #name
#define VEMTORA_ICU_NAME(name) VEMTORA_ICU_NAME_TEXT(name)

const Icu& icu() {
#ifdef _WIN32
    static const Icu api{&u_charDigitValue,   &u_isalpha,          &u_getNumericValue,
                         &u_getIntPropertyValue, &u_totitle,        &u_strFromUTF8WithSub,
                         &u_strToUTF8WithSub, &u_strToLower,       &unorm2_getNFKDInstance,
                         &unorm2_normalize};
    return api;
#else
    std::string reason;
    const Icu* api = support::load_once<Icu>(
        {"libicuuc.so." U_ICU_VERSION_SHORT, "libicuuc." U_ICU_VERSION_SHORT ".dylib"},
        [](const support::Library& library, Icu& f) -> std::string {
            bool complete = library.function(VEMTORA_ICU_NAME(u_charDigitValue), f.char_digit_value) &&
                            library.function(VEMTORA_ICU_NAME(u_isalpha), f.is_alpha) &&
                            library.function(VEMTORA_ICU_NAME(u_getNumericValue), f.numeric_value) &&
                            library.function(VEMTORA_ICU_NAME(u_getIntPropertyValue), f.int_property_value) &&
                            library.function(VEMTORA_ICU_NAME(u_totitle), f.to_title) &&
                            library.function(VEMTORA_ICU_NAME(u_strFromUTF8WithSub), f.from_utf8) &&
                            library.function(VEMTORA_ICU_NAME(u_strToUTF8WithSub), f.to_utf8) &&
                            library.function(VEMTORA_ICU_NAME(u_strToLower), f.to_lower) &&
                            library.function(VEMTORA_ICU_NAME(unorm2_getNFKDInstance), f.nfkd_instance) &&
                            library.function(VEMTORA_ICU_NAME(unorm2_normalize), f.normalize);
            return complete ? "" : "ICU lacks a function that the program needs";
        },
        reason);
    if (!api) throw std::runtime_error("無法載入 Unicode 字元資料 (ICU): " + reason);
    return *api;
#endif
}

bool ascii(char32_t c) { return c < 0x80; }
bool ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool ascii_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }

int32_t length_of(size_t size) {
    if (size > static_cast<size_t>(INT32_MAX) / 4) throw std::length_error("text too long for a Unicode operation");
    return static_cast<int32_t>(size);
}

// Fills a buffer through one ICU call that says how much room it needed when it had too
// little: a first try with `guess` units, a second with what it asked for.
template <typename Char, typename Call>
std::basic_string<Char> filled(size_t guess, Call call) {
    std::basic_string<Char> out(guess, Char{});
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = call(out.data(), length_of(out.size()), status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(length), Char{});
        status = U_ZERO_ERROR;
        length = call(out.data(), length_of(out.size()), status);
    }
    if (U_FAILURE(status)) throw std::runtime_error("a Unicode text operation failed");
    out.resize(static_cast<size_t>(length));
    return out;
}

std::u16string to_utf16(const Icu& api, std::string_view text) {
    const int32_t size = length_of(text.size());
    // Never more UTF-16 units than UTF-8 bytes.
    return filled<char16_t>(text.size(), [&](char16_t* out, int32_t room, UErrorCode& status) {
        int32_t length = 0;
        api.from_utf8(out, room, &length, text.data(), size, 0xFFFD, nullptr, &status);
        return length;
    });
}

std::string to_utf8(const Icu& api, const std::u16string& text) {
    const int32_t size = length_of(text.size());
    // Never more than three UTF-8 bytes per UTF-16 unit.
    return filled<char>(text.size() * 3, [&](char* out, int32_t room, UErrorCode& status) {
        int32_t length = 0;
        api.to_utf8(out, room, &length, text.data(), size, 0xFFFD, nullptr, &status);
        return length;
    });
}

}  // namespace

int digit_value(char32_t c) {
    if (ascii(c)) return ascii_digit(c) ? static_cast<int>(c - U'0') : -1;
    return icu().char_digit_value(static_cast<UChar32>(c));
}

bool is_letter(char32_t c) {
    if (ascii(c)) return ascii_letter(c);
    return icu().is_alpha(static_cast<UChar32>(c));
}

bool has_numeric_value(char32_t c) {
    if (ascii(c)) return ascii_digit(c);
    return icu().numeric_value(static_cast<UChar32>(c)) != U_NO_NUMERIC_VALUE;
}

bool is_digit(char32_t c) {
    if (ascii(c)) return ascii_digit(c);
    const auto type = icu().int_property_value(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE);
    return type == U_NT_DECIMAL || type == U_NT_DIGIT;
}

char32_t title_case(char32_t c) {
    if (ascii(c)) return (c >= U'a' && c <= U'z') ? c - U'a' + U'A' : c;
    return static_cast<char32_t>(icu().to_title(static_cast<UChar32>(c)));
}

std::string lower(std::string_view text) {
    const Icu& api = icu();
    const std::u16string source = to_utf16(api, text);
    const int32_t size = length_of(source.size());
    // The root locale: no language's own rules.
    const auto lowered = filled<char16_t>(source.size(), [&](char16_t* out, int32_t room, UErrorCode& status) {
        return api.to_lower(out, room, source.data(), size, "", &status);
    });
    return to_utf8(api, lowered);
}

std::string nfkd(std::string_view text) {
    const Icu& api = icu();
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* normalizer = api.nfkd_instance(&status);
    // An ICU built without its data has no NFKD: the text stays as it is.
    if (U_FAILURE(status)) return std::string(text);
    const std::u16string source = to_utf16(api, text);
    const int32_t size = length_of(source.size());
    const auto decomposed = filled<char16_t>(source.size(), [&](char16_t* out, int32_t room, UErrorCode& status) {
        return api.normalize(normalizer, source.data(), size, out, room, &status);
    });
    return to_utf8(api, decomposed);
}

}  // namespace support::unicode
