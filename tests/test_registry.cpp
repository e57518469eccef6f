// The registry value reader against the registry of the test prefix: the
// log block of each outcome, the type descriptions, the bounds of the copy,
// read access only, and the key and block released on every path.
#include <gtest/gtest.h>

#include <string.h>

#include "app/controller.h"
#include "paths/paths.h"
#include "support/host_test_support.h"
#include "support/test_support.h"

namespace {

const char *const TestKey = "SOFTWARE\\QuorvexTest\\Registry";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";

std::string Opening(const std::string &value, const std::string &key)
{
    return "\nOpening value '" + value + "' under key '" + key + "' via Registry...\n";
}

std::string Described(const std::string &value, int type, const std::string &description, int size)
{
    return "\nValue Name: " + value + "\n" + "\nValue Type: [" + std::to_string(type) + "] " + description + ".\n" +
           "\nValue Size: " + std::to_string(size) +
           " [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n";
}

// Stand-ins around the real registry calls: they count opens and closes,
// record the access asked for, and can refuse write access (as for a user
// who may not write to HKLM, which Wine's registry does not enforce), fail
// the data query, or report a size no block can hold.
struct RegistryWatch {
    int opens = 0;
    int closes = 0;
    int closesOfOther = 0;
    HKEY opened = NULL;
    REGSAM requested = 0;
    bool refuseWriteAccess = false;
    int queries = 0;
    int failQueryNumber = 0;   // 1-based; 0: none fails
    LONG failStatus = 0;
    DWORD reportedSize = 0;    // non-zero: the size query reports this
};
RegistryWatch Watch;

LONG WINAPI WatchedOpen(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    Watch.requested = access;
    const REGSAM writeAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER | DELETE;
    if (Watch.refuseWriteAccess && (access & writeAccess) != 0) return ERROR_ACCESS_DENIED;
    LONG status = RegOpenKeyExA(root, subKey, options, access, result);
    if (status == ERROR_SUCCESS) {
        Watch.opens++;
        Watch.opened = *result;
    }
    return status;
}

LONG WINAPI WatchedQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    Watch.queries++;
    if (Watch.queries == Watch.failQueryNumber) return Watch.failStatus;
    LONG status = RegQueryValueExA(key, name, reserved, type, data, size);
    if (status == ERROR_SUCCESS && data == NULL && Watch.reportedSize != 0) *size = Watch.reportedSize;
    return status;
}

LONG WINAPI WatchedClose(HKEY key)
{
    if (key == Watch.opened && key != NULL) {
        Watch.closes++;
    } else {
        Watch.closesOfOther++;
    }
    return RegCloseKey(key);
}

class RegistryReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        Watch = RegistryWatch();
        PathsCalls.pRegOpenKeyExA = WatchedOpen;
        PathsCalls.pRegQueryValueExA = WatchedQuery;
        PathsCalls.pRegCloseKey = WatchedClose;
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        PathsCalls = PathsSystemCallsDefault;
        ControllerLogClose();
        DeleteRegistryKey(TestKey);
        DeleteRegistryKey(JdkKey);
    }
    std::string Log()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
    void ExpectKeyReleased(const char *when)
    {
        EXPECT_EQ(Watch.opens, Watch.closes) << when << ": every opened key is closed";
        EXPECT_EQ(0, Watch.closesOfOther) << when << ": only the opened key is closed";
    }
};

TEST_F(RegistryReader, JdkVersionOneSixIsDescribedAndCopied)
{
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.6"));
    char text[260];
    memset(text, 'x', sizeof(text));
    DWORD size = 0, type = 0;
    EXPECT_EQ(1, ReadRegistryString(JdkKey, "CurrentVersion", text, sizeof(text), &size, &type));
    EXPECT_STREQ("1.6", text);
    EXPECT_EQ(4u, size);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ("\nOpening value 'CurrentVersion' under key 'SOFTWARE\\JavaSoft\\Java Development Kit' via Registry...\n"
              "\nValue Name: CurrentVersion\n"
              "\nValue Type: [1] REG_SZ -- null-terminated string.\n"
              "\nValue Size: 4 [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n"
              "\nValue Data: 1.6\n",
              Log());
    ExpectKeyReleased("success");
    EXPECT_EQ(1, Watch.opens);
}

TEST_F(RegistryReader, ExpandableTextIsReturnedUnexpanded)
{
    ASSERT_EQ("", SetRegistryValue(TestKey, "Home", REG_EXPAND_SZ, "%SystemRoot%\\java", 18));
    char text[64];
    DWORD size = 0, type = 0;
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Home", text, sizeof(text), &size, &type));
    EXPECT_STREQ("%SystemRoot%\\java", text);
    EXPECT_EQ((DWORD)REG_EXPAND_SZ, type);
    EXPECT_EQ(18u, size);
    EXPECT_EQ(Opening("Home", TestKey) +
                  Described("Home", 2,
                            "REG_EXPAND_SZ -- null-terminated string that contains unexpanded references to "
                            "environment variables",
                            18) +
                  "\nValue Data: %SystemRoot%\\java\n",
              Log());
}

struct RefusedType {
    DWORD type;
    std::string data;
    const char *description;
};

TEST_F(RegistryReader, TypesOtherThanTextAreDescribedThenRefused)
{
    const RefusedType rows[] = {
        { REG_DWORD, std::string("\x2a\0\0\0", 4), "Other\t -- unknown format" },
        { REG_MULTI_SZ, std::string("1.5\0" "1.6\0\0", 9),
          "REG_MULTI_SZ -- sequence of null-terminated strings, terminated by an empty string (\\0)" },
        { REG_BINARY, std::string("\x01\x02\x03", 3), "Other\t -- unknown format" },
        { REG_QWORD, std::string(8, '\0'), "Other\t -- unknown format" },
        { REG_NONE, std::string(), "Other\t -- unknown format" },
    };
    std::string expected;
    for (const RefusedType &row : rows) {
        std::string name = "Type" + std::to_string(row.type);
        ASSERT_EQ("", SetRegistryValue(TestKey, name.c_str(), row.type, row.data.data(), (DWORD)row.data.size()));
        char text[16] = "untouched";
        DWORD size = 77, type = 77;
        EXPECT_EQ(0, ReadRegistryString(TestKey, name.c_str(), text, sizeof(text), &size, &type)) << name;
        EXPECT_STREQ("untouched", text) << name;
        EXPECT_EQ(77u, size) << name;
        EXPECT_EQ(77u, type) << name;
        expected += Opening(name, TestKey) + Described(name, (int)row.type, row.description, (int)row.data.size()) +
                    "\nWarning:\n'" + name + "' Value Type (" + std::to_string(row.type) + ") is unsuported.\n";
    }
    EXPECT_EQ(expected, Log());
    ExpectKeyReleased("unsupported type");
    EXPECT_EQ(5, Watch.opens);
}

TEST_F(RegistryReader, MissingKeyWritesTwoLinesAndMissingValueTwo)
{
    char text[16] = "untouched";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\QuorvexTest\\NoSuchKey", "Value", text, sizeof(text), NULL, NULL));
    ASSERT_EQ("", SetRegistryString(TestKey, "Other", "x"));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nOpening value 'Value' under key 'SOFTWARE\\QuorvexTest\\NoSuchKey' via Registry...\n"
              "\nRegOpenKeyEx() returns: 2.\n"
              "\nOpening value 'Missing' under key 'SOFTWARE\\QuorvexTest\\Registry' via Registry...\n"
              "\nRegQueryValueEx (Type and Size query only) returns: 2.\n",
              Log());
    EXPECT_EQ(1, Watch.opens) << "the missing key was never opened";
    ExpectKeyReleased("missing value");
}

TEST_F(RegistryReader, OpensWithReadAccessOnly)
{
    // A user who may not write to the key still reads the value.
    Watch.refuseWriteAccess = true;
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.6"));
    char text[260] = "";
    EXPECT_EQ(1, ReadRegistryString(JdkKey, "CurrentVersion", text, sizeof(text), NULL, NULL));
    EXPECT_STREQ("1.6", text);
    EXPECT_EQ((REGSAM)KEY_READ, Watch.requested);
    ExpectKeyReleased("read access");
}

TEST_F(RegistryReader, EmptyUnterminatedAndEmbeddedZeroValues)
{
    char text[16];
    DWORD size = 99;

    // Size 0: the empty text and result 1.
    ASSERT_EQ("", SetRegistryValue(TestKey, "Empty", REG_SZ, "", 0));
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Empty", text, sizeof(text), &size, NULL));
    EXPECT_STREQ("", text);
    EXPECT_EQ(0u, size);

    // Stored without its terminating zero: the bytes, cut at the size.
    ASSERT_EQ("", SetRegistryValue(TestKey, "Raw", REG_SZ, "abcdef", 3));
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Raw", text, sizeof(text), &size, NULL));
    EXPECT_STREQ("abc", text);

    // A zero inside the data ends the text.
    ASSERT_EQ("", SetRegistryValue(TestKey, "Inner", REG_SZ, "ab\0cd", 6));
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Inner", text, sizeof(text), &size, NULL));
    EXPECT_STREQ("ab", text);
    EXPECT_EQ(6u, size);

    EXPECT_EQ(Opening("Empty", TestKey) + Described("Empty", 1, "REG_SZ -- null-terminated string", 0) +
                  "\nValue Data: \n" + Opening("Raw", TestKey) +
                  Described("Raw", 1, "REG_SZ -- null-terminated string", 3) + "\nValue Data: abc\n" +
                  Opening("Inner", TestKey) + Described("Inner", 1, "REG_SZ -- null-terminated string", 6) +
                  "\nValue Data: ab\n",
              Log());
    ExpectKeyReleased("edge sizes");
}

TEST_F(RegistryReader, LongerTextIsCutToTheCallersCapacity)
{
    // Ten characters, eleven bytes with the terminator.
    ASSERT_EQ("", SetRegistryString(TestKey, "Long", "0123456789"));
    struct Case {
        DWORD capacity;
        const char *expected;
    };
    const Case cases[] = {
        { 1, "" }, { 9, "01234567" }, { 10, "012345678" }, { 11, "0123456789" }, { 12, "0123456789" },
    };
    for (const Case &c : cases) {
        char guarded[32];
        memset(guarded, '#', sizeof(guarded));
        DWORD size = 0;
        EXPECT_EQ(1, ReadRegistryString(TestKey, "Long", guarded, c.capacity, &size, NULL)) << c.capacity;
        EXPECT_STREQ(c.expected, guarded) << "capacity " << c.capacity;
        EXPECT_EQ(11u, size) << "the value's size, whatever was copied";
        for (size_t i = c.capacity; i < sizeof(guarded); i++) {
            ASSERT_EQ('#', guarded[i]) << "capacity " << c.capacity << ": byte " << i << " written";
        }
    }
    char untouched[4] = "abc";
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Long", untouched, 0, NULL, NULL)) << "no room at all";
    EXPECT_STREQ("abc", untouched);
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\nValue Data: 012345678\n")) << log;
    ExpectKeyReleased("capacity");
}

TEST_F(RegistryReader, FailingDataQueryIsNotedOnStandardOutput)
{
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.6"));
    Watch.failQueryNumber = 2;
    Watch.failStatus = ERROR_MORE_DATA;
    char text[260] = "untouched";
    int result = -1;
    std::string out = StandardOutputOf([&] {
        result = ReadRegistryString(JdkKey, "CurrentVersion", text, sizeof(text), NULL, NULL);
    });
    EXPECT_EQ(0, result);
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nRegQueryValueEx (CurrentVersion) returns: 234\n", out);
    EXPECT_EQ(Opening("CurrentVersion", JdkKey) + Described("CurrentVersion", 1, "REG_SZ -- null-terminated string", 4),
              Log())
        << "the note goes to standard output, not to the log";
    ExpectKeyReleased("failing data query");

    // Success writes nothing there.
    Watch = RegistryWatch();
    out = StandardOutputOf([&] { ReadRegistryString(JdkKey, "CurrentVersion", text, sizeof(text), NULL, NULL); });
    EXPECT_EQ("", out);
}

TEST_F(RegistryReader, BlockThatCannotBeAllocated)
{
    ASSERT_EQ("", SetRegistryString(TestKey, "Huge", "x"));
    Watch.reportedSize = 0x7FFFFFF0;
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Huge", text, sizeof(text), NULL, NULL));
    Watch.reportedSize = MAXDWORD;
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Huge", text, sizeof(text), NULL, NULL)) << "size + 1 would wrap";
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ(Opening("Huge", TestKey) + Described("Huge", 1, "REG_SZ -- null-terminated string", 2147483632) +
                  "\nUnable to allocate 2147483632 bytes for 'ValueData'.\n" + Opening("Huge", TestKey) +
                  Described("Huge", 1, "REG_SZ -- null-terminated string", -1) +
                  "\nUnable to allocate -1 bytes for 'ValueData'.\n",
              Log());
    ExpectKeyReleased("allocation failure");
    EXPECT_EQ(2, Watch.opens);
}

}  // namespace
