// Windows paths as text: names the system keeps for devices, the long form past MAX_PATH,
// final paths compared as the file system compares them, and error codes.
#include <gtest/gtest.h>

#include "support/windows_paths.hpp"

using namespace support;

TEST(WindowsPaths, DeviceNamesInAnyCaseWithAnyExtension) {
    for (const char* name : {"NUL", "nul", "NUL.zip", "con.sh", "Aux.tar.gz", "PRN", "COM1", "com9.txt", "LPT1",
                             "lpt9.log", "COM\xC2\xB9", "NUL ", "nul.", "CON .txt", "nul.zip."})
        EXPECT_TRUE(windows_reserved_name(name)) << name;
    for (const char* name : {"NULL", "null.zip", "CONSOLE", "con_sh", "COM0", "COM10", "LPT", "LPT0.txt", "auxiliary",
                             "a.nul", "", ".", "..", "xNUL"})
        EXPECT_FALSE(windows_reserved_name(name)) << name;
    EXPECT_EQ(windows_reserved_component("out/NUL.zip"), "NUL.zip");
    EXPECT_EQ(windows_reserved_component("D:\\work\\con\\page.html"), "con");
    EXPECT_EQ(windows_reserved_component("./out/page.html"), std::nullopt);
    EXPECT_EQ(windows_reserved_component("C:\\"), std::nullopt);
}

// The system drops blanks and dots at a name's end: "out " would be made as "out", and
// every later open of "out \page.html" would miss it.
TEST(WindowsPaths, NamesThatTheSystemWouldTrim) {
    struct Case {
        const char* path;
        std::optional<std::string> trimmed;
    };
    const Case cases[] = {
        {"out ", "out "},
        {"out.", "out."},
        {"docs\\draft. \\page.html", "draft. "},
        {"C:\\work\\out \\", "out "},
        {"a/b/page.html.", "page.html."},
        {"...", "..."},
        {"./out/../page.html", std::nullopt},
        {"\\\\?\\C:\\work\\page.html", std::nullopt},
        {"\\\\.\\C:\\work\\page.html", std::nullopt},
        {"C:\\", std::nullopt},
        {" lead\\.hidden\\a b.md", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(windows_trimmed_component(c.path), c.trimmed) << c.path;
}

TEST(WindowsPaths, TheLongFormPastTheLimit) {
    const std::string deep = "C:\\docs\\" + std::string(300, 'a') + "\\page.md";
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        {"C:\\docs\\page.md", "C:\\docs\\page.md"},  // short: as it is
        {deep, "\\\\?\\" + deep},
        {"C:/docs/./x/../" + std::string(300, 'a') + "/page.md", "\\\\?\\" + deep},
        {"\\\\server\\share\\" + std::string(300, 'b'), "\\\\?\\UNC\\server\\share\\" + std::string(300, 'b')},
        {"\\\\?\\" + deep, "\\\\?\\" + deep},  // prefixed already
        {"\\\\.\\" + deep, "\\\\.\\" + deep},  // the device form: no second prefix
        {"//?/" + deep, "//?/" + deep},
        {"docs\\" + std::string(300, 'a'), "docs\\" + std::string(300, 'a')},  // relative
        {"C:docs\\" + std::string(300, 'a'), "C:docs\\" + std::string(300, 'a')},  // drive-relative
        {"C:\\..\\..\\" + std::string(300, 'c'), "\\\\?\\C:\\" + std::string(300, 'c')},
    };
    for (const auto& c : cases) EXPECT_EQ(windows_long_path(c.path), c.expected) << c.path.substr(0, 40);
}

// A link is followed to its final path; whether that lies inside the working copy is
// decided in the letters' case of either, the prefix of either form aside.
TEST(WindowsPaths, FinalPathsComparedAsTheFileSystemDoes) {
    EXPECT_EQ(windows_plain_path("\\\\?\\C:\\work\\x"), "C:\\work\\x");
    EXPECT_EQ(windows_plain_path("\\\\?\\UNC\\server\\share\\x"), "\\\\server\\share\\x");
    EXPECT_EQ(windows_plain_path("C:\\work"), "C:\\work");
    // The device form of a drive's path is that path; other devices and volumes are no
    // drive's paths.
    EXPECT_EQ(windows_plain_path("\\\\.\\C:\\work\\x"), "C:\\work\\x");
    EXPECT_EQ(windows_plain_path("//?/C:/work"), "C:/work");
    EXPECT_EQ(windows_plain_path("\\\\.\\pipe\\x"), "\\\\.\\pipe\\x");
    EXPECT_EQ(windows_plain_path("\\\\?\\Volume{0a}\\x"), "\\\\?\\Volume{0a}\\x");
    struct Case {
        const char* path;
        const char* folder;
        bool within;
    };
    const Case cases[] = {
        {"\\\\?\\C:\\Work\\out", "C:\\work", true},
        {"\\\\?\\c:\\WORK", "\\\\?\\C:\\work\\", true},
        {"\\\\?\\C:\\work\\陳\\a", "C:\\WORK\\陳", true},
        {"\\\\?\\C:\\workshop", "C:\\work", false},
        {"\\\\?\\C:\\Users\\x\\.ssh", "C:\\work", false},
        {"\\\\?\\D:\\work\\out", "C:\\work", false},
        {"\\\\?\\UNC\\server\\share\\work\\a", "\\\\server\\share\\work", true},
        {"\\\\?\\UNC\\server\\share\\other", "\\\\server\\share\\work", false},
        {"\\\\?\\C:\\ÄRGER\\a", "C:\\ärger", true},
    };
    for (const auto& c : cases) EXPECT_EQ(windows_path_within(c.path, c.folder), c.within) << c.path << " in " << c.folder;
}

TEST(WindowsPaths, ErrorCodesReadAsTheirConditions) {
    struct Case {
        unsigned long code;
        std::optional<std::errc> condition;
    };
    const Case cases[] = {
        {5, std::errc::permission_denied},            // ERROR_ACCESS_DENIED
        {2, std::errc::no_such_file_or_directory},    // ERROR_FILE_NOT_FOUND
        {3, std::errc::no_such_file_or_directory},    // ERROR_PATH_NOT_FOUND
        {80, std::errc::file_exists},                 // ERROR_FILE_EXISTS
        {183, std::errc::file_exists},                // ERROR_ALREADY_EXISTS
        {32, std::errc::device_or_resource_busy},     // ERROR_SHARING_VIOLATION
        {112, std::errc::no_space_on_device},         // ERROR_DISK_FULL
        {206, std::errc::filename_too_long},          // ERROR_FILENAME_EXCED_RANGE
        {123, std::errc::invalid_argument},           // ERROR_INVALID_NAME
        {267, std::errc::not_a_directory},            // ERROR_DIRECTORY
        {145, std::errc::directory_not_empty},        // ERROR_DIR_NOT_EMPTY
        {19, std::errc::read_only_file_system},       // ERROR_WRITE_PROTECT
        {17, std::errc::cross_device_link},           // ERROR_NOT_SAME_DEVICE
        {1921, std::errc::too_many_symbolic_link_levels},  // ERROR_CANT_RESOLVE_FILENAME
        {1314, std::nullopt},                          // ERROR_PRIVILEGE_NOT_HELD: the system's own text
    };
    for (const auto& c : cases) EXPECT_EQ(windows_error_condition(c.code), c.condition) << c.code;
}
