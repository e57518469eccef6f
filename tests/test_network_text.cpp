// The address helpers, the IP and Port field, the local web server's base
// URL and the IPv4 address list. The field is set on the program's own
// dialog template with the real text fitting; the address list is read
// through a simulated address table for exact rows, sizes and a failing
// call, and once through the prefix's own table.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/controller.h"
#include "network/network.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_fitting.h"
#include "support/test_support.h"

namespace {

std::string Formatted(const char *dotted)
{
    char text[IP_ADDRESS_TEXT_SIZE + 8];
    memset(text, 'Z', sizeof(text));
    EXPECT_EQ(1, FormatIpAddress(text, inet_addr(dotted)));
    for (size_t i = IP_ADDRESS_TEXT_SIZE; i < sizeof(text); i++) {
        EXPECT_EQ('Z', text[i]) << dotted << ": written past the 16-byte address buffer";
    }
    return text;
}

std::string Classified(const char *dotted)
{
    char text[IP_CLASS_TEXT_SIZE];
    memset(text, 'Z', sizeof(text));
    EXPECT_EQ(1, ClassifyIpAddress(text, inet_addr(dotted)));
    for (size_t i = 8; i < sizeof(text); i++) {
        EXPECT_EQ('Z', text[i]) << dotted << ": written past the 8 bytes a class text needs";
    }
    return text;
}

TEST(AddressText, DottedTextInMemoryOrder)
{
    const char *const addresses[] = { "255.255.255.255", "0.0.0.0", "192.168.1.200", "10.0.0.2",
                                      "1.2.3.4", "127.0.0.1", "100.20.3.0" };
    for (const char *dotted : addresses) {
        EXPECT_EQ(dotted, Formatted(dotted));
    }
    // The first byte in memory is the leftmost number.
    char text[IP_ADDRESS_TEXT_SIZE];
    FormatIpAddress(text, 0x0100007F);
    EXPECT_STREQ("127.0.0.1", text);
}

TEST(AddressText, TableOfClasses)
{
    const struct { const char *address; const char *text; } rows[] = {
        { "10.1.2.3", "private" },
        { "172.16.0.1", "private" },
        { "172.31.255.255", "private" },
        { "172.15.0.1", "public" },
        { "172.32.0.1", "public" },
        { "192.168.0.1", "private" },
        { "192.169.0.1", "public" },
        { "192.0.2.1", "public" },
        { "127.0.0.1", "local" },
        { "127.5.5.5", "local" },
        { "169.254.1.1", "failed" },
        { "169.1.1.1", "failed" },
        { "0.0.0.0", "all" },
        { "255.255.255.255", "public" },
        { "198.51.100.7", "public" },
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.text, Classified(row.address)) << row.address;
    }
}

// ---------------------------------------------------------------------------
// The ServiceTable and EndpointTable records the display reads, set here and
// put back afterwards.

struct EndpointRow {
    const char *address;
    DWORD port;
};

void SetService(int i, int installed, DWORD state)
{
    ServiceEntry &entry = ServiceTable.entries[i];
    entry.bInstalled = installed;
    memset(&entry.ssStatus, 0, sizeof(entry.ssStatus));
    entry.ssStatus.dwCurrentState = state;
}

// The record as the mapping leaves it: the slots beyond the count are 0.
void SetRecord(int i, const std::vector<EndpointRow> &endpoints)
{
    memset(&EndpointTable[i], 0, sizeof(EndpointTable[i]));
    EndpointTable[i].count = (DWORD)endpoints.size();
    for (size_t k = 0; k < endpoints.size() && k < ENDPOINT_SLOTS; k++) {
        EndpointTable[i].slots[k].address = inet_addr(endpoints[k].address);
        EndpointTable[i].slots[k].port = endpoints[k].port;
    }
}

class ServiceRecordsTest : public ::testing::Test {
protected:
    ServiceTableRecord savedServices;
    ServiceEndpoints savedEndpoints[SERVICE_COUNT];
    void SetUp() override
    {
        savedServices = ServiceTable;
        memcpy(savedEndpoints, EndpointTable, sizeof(savedEndpoints));
        for (int i = 0; i < SERVICE_COUNT; i++) {
            SetService(i, 0, 0);
            SetRecord(i, {});
        }
    }
    void TearDown() override
    {
        ServiceTable = savedServices;
        memcpy(EndpointTable, savedEndpoints, sizeof(savedEndpoints));
    }
};

class EndpointFieldTest : public ServiceRecordsTest {
protected:
    HWND dialog = NULL;
    void SetUp() override
    {
        ServiceRecordsTest::SetUp();
        dialog = CreateBareDialog();
        ASSERT_NE((HWND)NULL, dialog);
    }
    void TearDown() override
    {
        ControllerLogClose();
        DestroyControllerDialog(dialog);
        ServiceRecordsTest::TearDown();
    }
    // Shows the service's endpoints over an old text; the log holds what
    // the call wrote.
    std::string Show(int serviceIndex, std::string *log)
    {
        SetDlgItemTextA(dialog, IDC_IP_AND_PORT, "old text");
        OpenFreshControllerLog();
        EXPECT_EQ(1, ShowServiceEndpoints(dialog, serviceIndex));
        ControllerLogClose();
        *log = ReadControllerLog();
        return DialogItemText(dialog, IDC_IP_AND_PORT);
    }
};

// The joined text is what the fitting was given (its trace logs it whole),
// and the field shows that text fitted to the control.
TEST_F(EndpointFieldTest, RunningServiceShowsItsEndpointsJoined)
{
    struct Case {
        int service;
        std::vector<EndpointRow> endpoints;
        const char *text;
    };
    const Case cases[] = {
        { 0, { { "0.0.0.0", 80 }, { "127.0.0.1", 80 } }, "0.0.0.0:80 [all], 127.0.0.1:80 [local]" },
        { 1, { { "127.0.0.1", 3306 } }, "127.0.0.1:3306 [local]" },
        { 2, { { "192.168.1.5", 8080 } }, "192.168.1.5:8080 [private]" },
        { 3, { { "10.0.0.2", 443 }, { "169.254.3.4", 0 }, { "198.51.100.7", 65535 } },
          "10.0.0.2:443 [private], 169.254.3.4:0 [failed], 198.51.100.7:65535 [public]" },
    };
    FittingMeasure measure = MeasureOn(dialog);
    int limit = FieldPixelLimit(dialog, IDC_IP_AND_PORT);
    for (const Case &c : cases) {
        // Every service running with a record of its own: only the asked
        // one's is shown.
        for (int i = 0; i < SERVICE_COUNT; i++) {
            SetService(i, 1, SERVICE_RUNNING);
            SetRecord(i, { { "172.20.0.9", (DWORD)(9000 + i) } });
        }
        SetRecord(c.service, c.endpoints);
        std::string log;
        std::string shown = Show(c.service, &log);
        std::string text = c.text;
        EXPECT_NE(std::string::npos, log.find("\nString: " + text + "\nString Length: " +
                                              std::to_string(text.size()) + " [characters]\n"))
            << "service " << c.service << ": expected the field text \"" << text << "\", log:\n" << log;
        EXPECT_EQ(ExpectedFittedText(measure, text, limit), shown) << "service " << c.service;
    }
    // The two endpoints of the example fit the field whole.
    SetRecord(0, { { "0.0.0.0", 80 }, { "127.0.0.1", 80 } });
    std::string log;
    EXPECT_EQ("0.0.0.0:80 [all], 127.0.0.1:80 [local]", Show(0, &log));
    SetRecord(2, { { "192.168.1.5", 8080 } });
    EXPECT_EQ("192.168.1.5:8080 [private]", Show(2, &log)) << "one endpoint, no separator";
}

// Five endpoints of 31 characters and four separators: 163 characters,
// built whole in the field buffer, then cut to the control by the fitting.
TEST_F(EndpointFieldTest, FiveLongestEndpointsAreJoinedWholeThenFitted)
{
    SetService(0, 1, SERVICE_RUNNING);
    SetRecord(0, { { "192.168.255.251", 65535 }, { "192.168.255.252", 65534 }, { "192.168.255.253", 65533 },
                   { "192.168.255.254", 65532 }, { "192.168.255.255", 65531 } });
    const std::string text = "192.168.255.251:65535 [private], 192.168.255.252:65534 [private], "
                             "192.168.255.253:65533 [private], 192.168.255.254:65532 [private], "
                             "192.168.255.255:65531 [private]";
    ASSERT_EQ(163u, text.size());
    std::string log;
    std::string shown = Show(0, &log);
    EXPECT_NE(std::string::npos, log.find("\nString: " + text + "\nString Length: 163 [characters]\n")) << log;
    EXPECT_EQ(ExpectedFittedText(MeasureOn(dialog), text, FieldPixelLimit(dialog, IDC_IP_AND_PORT)), shown);
    ASSERT_FALSE(shown.empty());
    EXPECT_LE(shown.size(), text.size());
    if (shown != text) {
        ASSERT_GE(shown.size(), 3u);
        EXPECT_EQ("...", shown.substr(shown.size() - 3)) << shown;
        EXPECT_EQ(0u, text.find(shown.substr(0, shown.size() - 3))) << shown;
    }
}

// Absent or not running: the empty text, set directly (the log shows no
// fitting); running with no endpoint: the empty text through the fitting.
TEST_F(EndpointFieldTest, EmptyTextWhenAbsentNotRunningOrWithoutEndpoints)
{
    struct Case {
        const char *what;
        int installed;
        DWORD state;
        std::vector<EndpointRow> endpoints;
        bool fitted;
    };
    const Case cases[] = {
        { "start pending", 1, SERVICE_START_PENDING, { { "0.0.0.0", 8080 } }, false },
        { "stop pending", 1, SERVICE_STOP_PENDING, { { "0.0.0.0", 8080 } }, false },
        { "paused", 1, SERVICE_PAUSED, { { "0.0.0.0", 8080 } }, false },
        { "stopped", 1, SERVICE_STOPPED, { { "0.0.0.0", 8080 } }, false },
        { "not installed", 0, SERVICE_RUNNING, { { "0.0.0.0", 8080 } }, false },
        { "running, no endpoint", 1, SERVICE_RUNNING, {}, true },
    };
    for (const Case &c : cases) {
        for (int service = 0; service < SERVICE_COUNT; service++) {
            SetService(service, c.installed, c.state);
            SetRecord(service, c.endpoints);
            std::string log;
            EXPECT_EQ("", Show(service, &log)) << c.what << ", service " << service;
            if (c.fitted) {
                EXPECT_NE(std::string::npos, log.find("\nString: \nString Length: 0 [characters]\n"))
                    << c.what << ", service " << service << ", log:\n" << log;
            } else {
                EXPECT_EQ("", log) << c.what << ", service " << service << ": set without fitting";
            }
        }
    }
}

// The two operations test the state differently: a starting web server
// shows no endpoint but its base URL is built from slot 0.
TEST_F(EndpointFieldTest, StartPendingWebServerShowsNothingButBuildsFromSlotZero)
{
    SetService(0, 1, SERVICE_START_PENDING);
    SetRecord(0, { { "0.0.0.0", 8080 } });
    std::string log;
    EXPECT_EQ("", Show(0, &log));
    char url[256];
    EXPECT_EQ(1, BuildLocalBaseUrl(url));
    EXPECT_STREQ("http://localhost:8080", url);
}

TEST_F(ServiceRecordsTest, TableOfBaseUrls)
{
    struct Case {
        int installed;
        DWORD state;
        std::vector<EndpointRow> endpoints;
        const char *url;
    };
    const Case cases[] = {
        { 0, SERVICE_RUNNING, { { "10.0.0.2", 8080 } }, "http://localhost" },
        { 0, 0, {}, "http://localhost" },
        { 1, SERVICE_STOPPED, { { "10.0.0.2", 8080 } }, "http://localhost" },
        { 1, SERVICE_RUNNING, { { "0.0.0.0", 80 } }, "http://localhost" },
        { 1, SERVICE_RUNNING, { { "127.0.0.1", 80 } }, "http://localhost" },
        { 1, SERVICE_RUNNING, { { "0.0.0.0", 443 } }, "https://localhost" },
        { 1, SERVICE_RUNNING, { { "127.0.0.1", 443 } }, "https://localhost" },
        { 1, SERVICE_RUNNING, { { "0.0.0.0", 8080 } }, "http://localhost:8080" },
        { 1, SERVICE_RUNNING, { { "10.0.0.2", 80 } }, "http://10.0.0.2" },
        { 1, SERVICE_RUNNING, { { "10.0.0.2", 443 } }, "https://10.0.0.2" },
        { 1, SERVICE_RUNNING, { { "127.0.0.1", 81 } }, "http://localhost:81" },
        { 1, SERVICE_RUNNING, { { "127.0.0.2", 80 } }, "http://127.0.0.2" },
        { 1, SERVICE_RUNNING, { { "192.168.1.5", 80 } }, "http://192.168.1.5" },
        { 1, SERVICE_RUNNING, { { "192.168.1.5", 8080 } }, "http://192.168.1.5:8080" },
        { 1, SERVICE_RUNNING, { { "0.0.0.0", 8443 } }, "http://localhost:8443" },
        { 1, SERVICE_RUNNING, { { "255.255.255.255", 65535 } }, "http://255.255.255.255:65535" },
        { 1, SERVICE_RUNNING, { { "10.0.0.2", 8080 }, { "0.0.0.0", 80 } }, "http://10.0.0.2:8080" },
        { 1, SERVICE_START_PENDING, { { "0.0.0.0", 8080 } }, "http://localhost:8080" },
        { 1, SERVICE_STOP_PENDING, { { "192.168.1.5", 8080 } }, "http://192.168.1.5:8080" },
        { 1, SERVICE_PAUSED, { { "0.0.0.0", 443 } }, "https://localhost" },
        // Nothing found for a server that is not stopped: never ":0".
        { 1, SERVICE_RUNNING, {}, "http://localhost" },
        { 1, SERVICE_START_PENDING, {}, "http://localhost" },
    };
    for (int i = 1; i < SERVICE_COUNT; i++) {
        // The other services' records play no part.
        SetService(i, 1, SERVICE_RUNNING);
        SetRecord(i, { { "10.9.9.9", 9999 } });
    }
    for (const Case &c : cases) {
        SetService(0, c.installed, c.state);
        SetRecord(0, c.endpoints);
        char url[256];
        memset(url, 'Z', sizeof(url));
        std::string what = "installed " + std::to_string(c.installed) + ", state " + std::to_string(c.state) +
                           ", " + std::to_string(c.endpoints.size()) + " endpoints";
        EXPECT_EQ(1, BuildLocalBaseUrl(url)) << what;
        ASSERT_NE(nullptr, memchr(url, '\0', sizeof(url))) << what << ": unterminated";
        size_t length = strlen(url);
        EXPECT_EQ(c.url, std::string(url)) << what;
        ASSERT_GT(length, 0u);
        EXPECT_NE('/', url[length - 1]) << what;
        for (size_t k = length + 1; k < sizeof(url); k++) {
            ASSERT_EQ('Z', url[k]) << what << ": written past the URL at " << k;
        }
    }
}

// ---------------------------------------------------------------------------
// The IPv4 address list.

const char *TypeTextOf(unsigned short wType)
{
    static const struct { unsigned short wType; const char *text; } types[] = {
        { 1, "Primary" }, { 4, "Dynamic" }, { 8, "Disconnected" }, { 64, "Deleted" }, { 128, "Transient" },
    };
    for (const auto &t : types) {
        if (t.wType == wType) return t.text;
    }
    return "Unknown returned Type";
}

std::string IpLine(int i, const char *dotted, long raw, unsigned type, const char *typeText)
{
    return "\nIP " + std::to_string(i) + ": " + dotted + " (" + std::to_string(raw) + "), " +
           std::to_string(type) + " [" + typeText + "]\n";
}

std::string CountLine(int detected)
{
    return "\nNumber of system IPs detected: " + std::to_string(detected) + "\n";
}

ULONG TableSize(size_t rows)
{
    return (ULONG)(sizeof(DWORD) + rows * sizeof(MIB_IPADDRROW));
}

std::string StoredEntries()
{
    std::string text;
    for (int i = 0; i < LOCAL_IP_SLOTS; i++) {
        char dotted[IP_ADDRESS_TEXT_SIZE];
        FormatIpAddress(dotted, LocalIpList.address[i]);
        text += std::string(i ? " " : "") + dotted + "=" +
                std::string(LocalIpList.text[i], strnlen(LocalIpList.text[i], sizeof(LocalIpList.text[i])));
    }
    return text;
}

class LocalIpListTest : public ::testing::Test {
protected:
    SimulatedNetwork system;
    void SetUp() override
    {
        memset(&LocalIpList, 0x5A, sizeof(LocalIpList));
    }
    void TearDown() override
    {
        RemoveSimulatedNetwork();
        ControllerLogClose();
    }
    // Installs a fresh simulated table of these rows (its call count from
    // zero) and reads the list; the log holds what the read wrote.
    std::string ReadWith(const std::vector<MIB_IPADDRROW> &rows, bool secondCallFails = false)
    {
        system = SimulatedNetwork();
        system.ipRows = rows;
        system.ipSecondCallFails = secondCallFails;
        InstallSimulatedNetwork(&system);
        OpenFreshControllerLog();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(1, ReadLocalIpAddresses());
        ControllerLogClose();
        EXPECT_EQ(std::vector<std::string>(), system.faults);
        return ReadControllerLog();
    }
};

TEST_F(LocalIpListTest, TypeTextsByExactValue)
{
    const struct { unsigned short wType; const char *text; } rows[] = {
        { MIB_IPADDR_PRIMARY, "Primary" },
        { MIB_IPADDR_DYNAMIC, "Dynamic" },
        { MIB_IPADDR_DISCONNECTED, "Disconnected" },
        { MIB_IPADDR_DELETED, "Deleted" },
        { MIB_IPADDR_TRANSIENT, "Transient" },
        { 5, "Unknown returned Type" },       // primary and dynamic together
        { 0, "Unknown returned Type" },
        { 2, "Unknown returned Type" },
        { 0x8001, "Unknown returned Type" },
        { 0xFFFF, "Unknown returned Type" },
    };
    for (const auto &row : rows) {
        std::string log = ReadWith({ SimulatedIpRow("10.0.0.1", row.wType) });
        EXPECT_EQ(CountLine(1) + IpLine(0, "10.0.0.1", 16777226, row.wType, row.text), log)
            << "wType " << row.wType;
        EXPECT_EQ((std::vector<ULONG>{ 0, TableSize(1) }), system.ipTableSizes)
            << "a probe with size 0, then the size it was told";
        EXPECT_EQ(1u, LocalIpList.detected);
        EXPECT_EQ(inet_addr("10.0.0.1"), LocalIpList.address[0]);
        EXPECT_STREQ("10.0.0.1", LocalIpList.text[0]);
    }
}

// Seven rows: all counted, the first five stored and logged; a later read
// with fewer rows rewrites only the entries it finds.
TEST_F(LocalIpListTest, FirstFiveOfSevenAreKeptAndALaterShorterReadRewritesOnlyItsOwn)
{
    std::string log = ReadWith({
        SimulatedIpRow("192.168.1.200", MIB_IPADDR_PRIMARY),
        SimulatedIpRow("127.0.0.1", MIB_IPADDR_PRIMARY),
        SimulatedIpRow("10.0.0.2", MIB_IPADDR_DYNAMIC),
        SimulatedIpRow("255.255.255.255", 5),
        SimulatedIpRow("169.254.1.1", MIB_IPADDR_DISCONNECTED),
        SimulatedIpRow("198.51.100.7", MIB_IPADDR_TRANSIENT),
        SimulatedIpRow("0.0.0.0", MIB_IPADDR_DELETED),
    });
    EXPECT_EQ(CountLine(7) +
              IpLine(0, "192.168.1.200", -939415360, 1, "Primary") +
              IpLine(1, "127.0.0.1", 16777343, 1, "Primary") +
              IpLine(2, "10.0.0.2", 33554442, 4, "Dynamic") +
              IpLine(3, "255.255.255.255", -1, 5, "Unknown returned Type") +
              IpLine(4, "169.254.1.1", 16907945, 8, "Disconnected"),
              log);
    EXPECT_EQ((std::vector<ULONG>{ 0, TableSize(7) }), system.ipTableSizes);
    EXPECT_EQ(7u, LocalIpList.detected);
    EXPECT_EQ("192.168.1.200=192.168.1.200 127.0.0.1=127.0.0.1 10.0.0.2=10.0.0.2 "
              "255.255.255.255=255.255.255.255 169.254.1.1=169.254.1.1", StoredEntries());

    log = ReadWith({ SimulatedIpRow("10.1.2.3", MIB_IPADDR_PRIMARY), SimulatedIpRow("192.0.2.1", 0) });
    EXPECT_EQ(CountLine(2) +
              IpLine(0, "10.1.2.3", (long)inet_addr("10.1.2.3"), 1, "Primary") +
              IpLine(1, "192.0.2.1", (long)inet_addr("192.0.2.1"), 0, "Unknown returned Type"),
              log);
    EXPECT_EQ(2u, LocalIpList.detected);
    EXPECT_EQ("10.1.2.3=10.1.2.3 192.0.2.1=192.0.2.1 10.0.0.2=10.0.0.2 "
              "255.255.255.255=255.255.255.255 169.254.1.1=169.254.1.1", StoredEntries());

    // Exactly five, then none.
    log = ReadWith({ SimulatedIpRow("10.0.0.11", 1), SimulatedIpRow("10.0.0.12", 1), SimulatedIpRow("10.0.0.13", 1),
                     SimulatedIpRow("10.0.0.14", 1), SimulatedIpRow("10.0.0.15", 1) });
    EXPECT_EQ(5u, LocalIpList.detected);
    EXPECT_EQ("10.0.0.11=10.0.0.11 10.0.0.12=10.0.0.12 10.0.0.13=10.0.0.13 10.0.0.14=10.0.0.14 10.0.0.15=10.0.0.15",
              StoredEntries());
    EXPECT_NE(std::string::npos, log.find(IpLine(4, "10.0.0.15", (long)inet_addr("10.0.0.15"), 1, "Primary"))) << log;
    log = ReadWith({});
    EXPECT_EQ(CountLine(0), log);
    EXPECT_EQ((std::vector<ULONG>{ 0, TableSize(0) }), system.ipTableSizes);
    EXPECT_EQ(0u, LocalIpList.detected);
}

// The second call fails (the simulated system leaves a count of 7 in the
// buffer): its error number is logged, no address is recorded and the
// buffer is not read.
TEST_F(LocalIpListTest, FailingSecondCallRecordsNoAddress)
{
    ReadWith({ SimulatedIpRow("10.0.0.1", 1), SimulatedIpRow("10.0.0.2", 1), SimulatedIpRow("10.0.0.3", 1) });
    ASSERT_EQ(3u, LocalIpList.detected);
    std::string before = StoredEntries();

    std::string log = ReadWith({ SimulatedIpRow("192.168.1.1", 1), SimulatedIpRow("192.168.1.2", 1) }, true);
    EXPECT_EQ("Call to GetIpAddrTable failed (87).\n" + CountLine(0), log);
    EXPECT_EQ((std::vector<ULONG>{ 0, TableSize(2) }), system.ipTableSizes);
    EXPECT_EQ(0u, LocalIpList.detected);
    EXPECT_EQ(before, StoredEntries()) << "nothing taken from the failed call's buffer";
}

// The prefix's own table, read here independently: the same count, the
// same first five rows, each logged in its exact form.
TEST(LocalIpListOfThePrefix, RowsOfTheSystemTableAreCountedStoredAndLogged)
{
    NetworkCalls = NetworkSystemCallsDefault;
    ULONG size = 0;
    ASSERT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetIpAddrTable(NULL, &size, FALSE));
    std::vector<BYTE> buffer(size);
    ASSERT_EQ((DWORD)NO_ERROR, GetIpAddrTable((PMIB_IPADDRTABLE)buffer.data(), &size, FALSE));
    const MIB_IPADDRTABLE *table = (const MIB_IPADDRTABLE *)buffer.data();

    memset(&LocalIpList, 0x5A, sizeof(LocalIpList));
    OpenFreshControllerLog();
    EXPECT_EQ(1, ReadLocalIpAddresses());
    ControllerLogClose();
    std::string log = ReadControllerLog();

    std::string expected = CountLine((int)table->dwNumEntries);
    bool loopbackInFirstFive = false;
    bool loopbackStored = false;
    for (DWORD i = 0; i < table->dwNumEntries; i++) {
        const MIB_IPADDRROW &row = table->table[i];
        if (i >= LOCAL_IP_SLOTS) continue;
        if (row.dwAddr == inet_addr("127.0.0.1")) loopbackInFirstFive = true;
        char dotted[IP_ADDRESS_TEXT_SIZE];
        FormatIpAddress(dotted, row.dwAddr);
        expected += IpLine((int)i, dotted, (long)row.dwAddr, row.wType, TypeTextOf(row.wType));
        EXPECT_EQ(row.dwAddr, LocalIpList.address[i]) << "entry " << i;
        EXPECT_STREQ(dotted, LocalIpList.text[i]) << "entry " << i;
        if (LocalIpList.address[i] == inet_addr("127.0.0.1")) loopbackStored = true;
    }
    EXPECT_EQ(expected, log);
    EXPECT_EQ(table->dwNumEntries, LocalIpList.detected);
    EXPECT_GE(LocalIpList.detected, 1u) << log;
    EXPECT_EQ(loopbackInFirstFive, loopbackStored) << "127.0.0.1 is a row of the table like any other";
    std::cout << "[ prefix   ] " << log.size() << " bytes of log:" << log;
}

} // namespace
