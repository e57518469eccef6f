// The dialog and menu templates, read back from the built program's own
// resources and compared with the tables of the design: every control's id,
// class, caption, style word and rectangle, every menu item and id.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_services.h"

namespace {

struct Control {
    int id;
    std::string className;
    std::string caption;
    DWORD style;
    int x, y, cx, cy;
};

const Control ExpectedControls[] = {
    { 10001, "BUTTON", "Start Service", 0x50010000, 210, 5, 60, 15 },
    { 10002, "BUTTON", "Stop Service", 0x50010000, 210, 25, 60, 15 },
    { 10003, "BUTTON", "Disable Startup", 0x50010000, 210, 45, 60, 15 },
    { 10004, "BUTTON", "Enable Startup", 0x50010000, 210, 65, 60, 15 },
    { -1, "STATIC", "Services", 0x50020001, 15, 5, 50, 10 },
    { -1, "STATIC", "Status", 0x50020001, 65, 5, 50, 10 },
    { -1, "STATIC", "Startup Type", 0x50020001, 115, 5, 50, 10 },
    { 10101, "LISTBOX", "", 0x50800041, 15, 15, 50, 50 },
    { 10102, "LISTBOX", "", 0x50804041, 65, 15, 50, 50 },
    { 10103, "LISTBOX", "", 0x50804041, 115, 15, 50, 50 },
    { -1, "BUTTON", "Extended Service Information...", 0x50000007, 10, 80, 265, 55 },
    { -1, "STATIC", "Description:", 0x50020000, 15, 90, 45, 10 },
    { -1, "STATIC", "Binary Path:", 0x50020000, 15, 100, 45, 10 },
    { -1, "STATIC", "Process Id:", 0x50020000, 15, 110, 45, 10 },
    { -1, "STATIC", "IP and Port:", 0x50020000, 15, 120, 45, 10 },
    { 10201, "STATIC", "", 0x5002000C, 60, 90, 210, 10 },
    { 10202, "STATIC", "", 0x5002000C, 60, 100, 210, 10 },
    { 10203, "STATIC", "", 0x5002000C, 60, 110, 210, 10 },
    { 10204, "STATIC", "", 0x5002000C, 60, 120, 210, 10 },
    { -1, "BUTTON", "System Information...", 0x50000007, 10, 140, 265, 55 },
    { -1, "STATIC", "IP Address:", 0x50020000, 15, 150, 45, 10 },
    { -1, "STATIC", "NET Version:", 0x50020000, 15, 160, 45, 10 },
    { -1, "STATIC", "JDK Version:", 0x50020000, 15, 170, 45, 10 },
    { -1, "STATIC", "OS Version:", 0x50020000, 15, 180, 45, 10 },
    { 10301, "STATIC", "", 0x5002000C, 60, 150, 210, 10 },
    { 10302, "STATIC", "", 0x5002000C, 60, 160, 210, 10 },
    { 10303, "STATIC", "", 0x5002000C, 60, 170, 210, 10 },
    { 10304, "STATIC", "", 0x5002000C, 60, 180, 210, 10 },
    { -1, "BUTTON", "Loaded Server Modules and Extensions...", 0x50000007, 10, 200, 265, 70 },
    { -1, "STATIC", "Suite Modules", 0x50020001, 15, 210, 80, 10 },
    { -1, "STATIC", "PHP Extensions", 0x50020001, 100, 210, 80, 10 },
    { -1, "STATIC", "Apache Modules", 0x50020001, 185, 210, 80, 10 },
    { 11001, "LISTBOX", "", 0x50A00143, 15, 220, 80, 40 },
    { 11002, "LISTBOX", "", 0x50A00143, 100, 220, 80, 40 },
    { 11003, "LISTBOX", "", 0x50A00143, 185, 220, 80, 40 },
};

// One menu entry, flattened depth-first: depth, text (empty for a
// separator), id (0 for popups and separators), popup flag.
struct MenuEntry {
    int depth;
    std::string text;
    int id;
    bool popup;
};

const MenuEntry ExpectedMenu[] = {
    { 0, "File", 0, true },
    { 1, "Requery All", 9501, false },
    { 1, "", 0, false },
    { 1, "Exit", 9003, false },
    { 0, "Configuration", 0, true },
    { 1, "Services", 9302, false },
    { 1, "", 0, false },
    { 1, "Apache", 0, true },
    { 2, "httpd.conf", 9111, false },
    { 2, "httpd-ssl.conf", 9112, false },
    { 2, "httpd-vhosts.conf", 9114, false },
    { 2, "", 0, false },
    { 2, "suite-custom.conf", 9113, false },
    { 1, "MySQL", 0, true },
    { 2, "my.ini", 9121, false },
    { 1, "PHP", 0, true },
    { 2, "php.ini", 9122, false },
    { 0, "Information", 0, true },
    { 1, "Localhost", 9201, false },
    { 1, "Suite Guide", 9202, false },
    { 1, "Apache Manual", 9203, false },
    { 1, "", 0, false },
    { 1, "server-info", 9211, false },
    { 1, "server-status", 9212, false },
    { 1, "", 0, false },
    { 1, "php-info", 9213, false },
    { 1, "", 0, false },
    { 1, "cgi-env", 9215, false },
    { 0, "Logs", 0, true },
    { 1, "access.log", 9101, false },
    { 1, "error.log", 9102, false },
    { 0, "Other", 0, true },
    { 1, "phpMyAdmin", 9231, false },
    { 1, "Command Prompt", 9301, false },
    { 1, "Windows HOSTS File", 9131, false },
    { 0, "Help", 0, true },
    { 1, "Talvessa", 9221, false },
    { 1, "Talvessa Fourms", 9222, false },
    { 1, "Morrine", 9223, false },
    { 1, "About", 9401, false },
};

class Reader {
public:
    Reader(const BYTE *data, size_t size) : data_(data), size_(size) {}
    size_t offset() const { return offset_; }
    bool ok() const { return ok_; }
    WORD Word() { return (WORD)Take(2); }
    DWORD Dword() { return (DWORD)Take(4); }
    short Short() { return (short)Take(2); }
    BYTE Byte() { return (BYTE)Take(1); }
    void AlignDword() { offset_ = (offset_ + 3) & ~(size_t)3; }
    std::string WideString()
    {
        std::string text;
        for (;;) {
            WORD c = Word();
            if (!ok_ || c == 0) break;
            text.push_back(c < 0x80 ? (char)c : '?');
        }
        return text;
    }
    // A name or ordinal: 0 none, 0xFFFF then an ordinal, else a string.
    std::string NameOrOrdinal(int *ordinal)
    {
        *ordinal = -1;
        WORD first = Word();
        if (first == 0) return std::string();
        if (first == 0xFFFF) { *ordinal = Word(); return std::string(); }
        offset_ -= 2;
        return WideString();
    }

private:
    unsigned long Take(size_t n)
    {
        if (offset_ + n > size_) { ok_ = false; return 0; }
        unsigned long value = 0;
        for (size_t i = 0; i < n; i++) value |= (unsigned long)data_[offset_ + i] << (8 * i);
        offset_ += n;
        return value;
    }
    const BYTE *data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

std::string ClassName(const std::string &name, int ordinal)
{
    switch (ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    default: break;
    }
    std::string upper = name;
    for (char &c : upper) c = (char)toupper((unsigned char)c);
    return upper;
}

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string path = TestBinDirectory() + "QuorvexController.exe";
        module_ = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "cannot load " << path << " (" << GetLastError() << ")";
    }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }
    const BYTE *Resource(LPCSTR type, int id, size_t *size)
    {
        HRSRC info = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
        if (!info) return nullptr;
        *size = SizeofResource(module_, info);
        return (const BYTE *)LockResource(LoadResource(module_, info));
    }
    HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, DialogTemplateMatchesTheControlTable)
{
    size_t size = 0;
    const BYTE *data = Resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, 101, &size);
    ASSERT_NE(nullptr, data);
    Reader r(data, size);
    EXPECT_EQ(1, r.Word()) << "dialog version";
    EXPECT_EQ(0xFFFF, r.Word()) << "extended template signature";
    r.Dword();
    EXPECT_EQ((DWORD)0, r.Dword()) << "extended style";
    EXPECT_EQ((DWORD)0x80CA00C0, r.Dword()) << "dialog style";
    WORD count = r.Word();
    EXPECT_EQ(35, count);
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(280, r.Short());
    EXPECT_EQ(275, r.Short());
    int ordinal;
    r.NameOrOrdinal(&ordinal);
    EXPECT_EQ(100, ordinal) << "menu resource";
    EXPECT_EQ("", r.NameOrOrdinal(&ordinal)) << "no window class";
    EXPECT_EQ(-1, ordinal);
    EXPECT_EQ("Quorvex Controller", r.WideString());
    EXPECT_EQ(8, r.Word()) << "point size";
    EXPECT_EQ(0, r.Word()) << "weight";
    EXPECT_EQ(0, r.Byte()) << "italic";
    EXPECT_EQ(1, r.Byte()) << "character set";
    EXPECT_EQ("MS Sans Serif", r.WideString());

    ASSERT_EQ(sizeof(ExpectedControls) / sizeof(ExpectedControls[0]), (size_t)count);
    for (const Control &want : ExpectedControls) {
        SCOPED_TRACE("control " + std::to_string(want.id) + " \"" + want.caption + "\"");
        r.AlignDword();
        r.Dword();
        EXPECT_EQ((DWORD)0, r.Dword()) << "extended style";
        DWORD style = r.Dword();
        int x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
        int id = (int)r.Dword();
        std::string className = r.NameOrOrdinal(&ordinal);
        std::string cls = ClassName(className, ordinal);
        std::string caption = r.NameOrOrdinal(&ordinal);
        WORD extra = r.Word();
        for (WORD i = 0; i < extra; i++) r.Byte();
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(want.id, id);
        EXPECT_EQ(want.className, cls);
        EXPECT_EQ(want.caption, caption);
        char hex[16];
        snprintf(hex, sizeof(hex), "0x%08lX", (unsigned long)style);
        char wantHex[16];
        snprintf(wantHex, sizeof(wantHex), "0x%08lX", (unsigned long)want.style);
        EXPECT_EQ(std::string(wantHex), std::string(hex));
        EXPECT_EQ(want.x, x);
        EXPECT_EQ(want.y, y);
        EXPECT_EQ(want.cx, cx);
        EXPECT_EQ(want.cy, cy);
    }
}

void ReadMenuItems(Reader &r, int depth, std::vector<MenuEntry> &out)
{
    for (;;) {
        WORD flags = r.Word();
        if (!r.ok()) return;
        MenuEntry entry;
        entry.depth = depth;
        entry.popup = (flags & MF_POPUP) != 0;
        entry.id = entry.popup ? 0 : r.Word();
        entry.text = r.WideString();
        out.push_back(entry);
        if (entry.popup) ReadMenuItems(r, depth + 1, out);
        if (flags & MF_END) return;
    }
}

TEST_F(ProgramResources, MenuTemplateMatchesTheMenuTable)
{
    size_t size = 0;
    const BYTE *data = Resource(MAKEINTRESOURCEA(4) /* RT_MENU */, 100, &size);
    ASSERT_NE(nullptr, data);
    Reader r(data, size);
    EXPECT_EQ(0, r.Word()) << "menu template version";
    EXPECT_EQ(0, r.Word()) << "header size";
    std::vector<MenuEntry> items;
    ReadMenuItems(r, 0, items);
    ASSERT_EQ(sizeof(ExpectedMenu) / sizeof(ExpectedMenu[0]), items.size());
    for (size_t i = 0; i < items.size(); i++) {
        SCOPED_TRACE("menu entry " + std::to_string(i) + " \"" + ExpectedMenu[i].text + "\"");
        EXPECT_EQ(ExpectedMenu[i].depth, items[i].depth);
        EXPECT_EQ(ExpectedMenu[i].text, items[i].text);
        EXPECT_EQ(ExpectedMenu[i].id, items[i].id);
        EXPECT_EQ(ExpectedMenu[i].popup, items[i].popup);
    }
    for (const MenuEntry &item : items) EXPECT_NE(9214, item.id) << "9214 has no menu item";
}

TEST_F(ProgramResources, IconsVersionBlockAndManifestArePresent)
{
    size_t size = 0;
    for (int id : { 102, 103, 104 }) {
        EXPECT_NE(nullptr, Resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, id, &size)) << "icon " << id;
    }
    const BYTE *manifest = Resource(MAKEINTRESOURCEA(24) /* RT_MANIFEST */, 1, &size);
    ASSERT_NE(nullptr, manifest);
    std::string text((const char *)manifest, size);
    EXPECT_NE(std::string::npos, text.find("<description>Quorvex Control Panel.</description>"));
    EXPECT_NE(std::string::npos, text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"X86\""));

    std::string path = TestBinDirectory() + "QuorvexController.exe";
    DWORD handle = 0;
    DWORD length = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE((DWORD)0, length);
    std::vector<BYTE> block(length);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, length, block.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedLength = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (LPVOID *)&fixed, &fixedLength));
    EXPECT_EQ((DWORD)0x00020000, fixed->dwProductVersionMS) << "version 2.00";
    char *product = nullptr;
    UINT productLength = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductName",
                               (LPVOID *)&product, &productLength));
    EXPECT_STREQ("Quorvex Controller", product);
}

}  // namespace
