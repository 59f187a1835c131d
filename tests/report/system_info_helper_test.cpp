#include "report/system_info_helper.h"

#include <platform/testing.h>

#include <cpuid.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "report/file_reading.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

struct VersionCase {
    DWORD major;
    DWORD minor;
    DWORD build;
    BYTE product_type;  // VER_NT_*
    WORD suite_mask;
    const wchar_t* service_pack;
    DWORD product;      // what GetProductInfo answers
    WORD architecture;  // of the machine
    int server_r2;      // system metric 89
    const wchar_t* name;
    DWORD platform_id = VER_PLATFORM_WIN32_NT;
};

class WindowsVersion : public ::testing::Test {
protected:
    ~WindowsVersion() override { platform::testing::Reset(); }

    static void Inject(const VersionCase& item) {
        OSVERSIONINFOEXW version{};
        version.dwMajorVersion = item.major;
        version.dwMinorVersion = item.minor;
        version.dwBuildNumber = item.build;
        version.dwPlatformId = item.platform_id;
        version.wProductType = item.product_type;
        version.wSuiteMask = item.suite_mask;
        std::wcsncpy(version.szCSDVersion, item.service_pack, 127);
        platform::testing::SetVersionRecord(version);
        platform::testing::SetProductType(item.product);
        platform::testing::SetProcessorArchitecture(item.architecture, item.architecture);
        platform::testing::SetSystemMetric(SM_SERVERR2, item.server_r2);
    }
};

TEST_F(WindowsVersion, NamesTheSystemFromItsVersionRecord) {
    constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
    constexpr BYTE kServer = VER_NT_SERVER;
    constexpr WORD kX64 = PROCESSOR_ARCHITECTURE_AMD64;
    constexpr WORD kX86 = PROCESSOR_ARCHITECTURE_INTEL;
    const VersionCase kCases[] = {
        {10, 0, 19045, kWorkstation, 0x100, L"", PRODUCT_PROFESSIONAL, kX64, 0,
         L"Microsoft Windows 10  (build 19045), 64-bit"},
        {10, 0, 22631, kWorkstation, 0x100, L"", PRODUCT_PROFESSIONAL, PROCESSOR_ARCHITECTURE_ARM64,
         0, L"Microsoft Windows 10  (build 22631)"},
        {10, 0, 14393, kServer, 0x110, L"", PRODUCT_STANDARD_SERVER, kX64, 0,
         L"Microsoft Windows Server 2016  (build 14393), 64-bit"},
        {6, 3, 9600, kWorkstation, 0x100, L"", PRODUCT_PROFESSIONAL, kX64, 0,
         L"Microsoft Windows 8  (build 9600), 64-bit"},
        {6, 1, 7601, kWorkstation, 0x100, L"Service Pack 1", PRODUCT_ULTIMATE, kX86, 0,
         L"Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 32-bit"},
        {6, 1, 7601, kServer, 0x112, L"Service Pack 1", PRODUCT_ENTERPRISE_SERVER, kX64, 0,
         L"Microsoft Windows Server 2008 R2 Enterprise Edition Service Pack 1 (build 7601), "
         L"64-bit"},
        {6, 0, 6002, kWorkstation, 0x300, L"Service Pack 2", PRODUCT_HOME_PREMIUM, kX86, 0,
         L"Microsoft Windows Vista Home Premium Edition Service Pack 2 (build 6002), 32-bit"},
        {6, 4, 9841, kWorkstation, 0, L"", PRODUCT_BUSINESS, PROCESSOR_ARCHITECTURE_IA64, 0,
         L"Microsoft Business Edition (build 9841)"},
        {5, 1, 2600, kWorkstation, 0x300, L"Service Pack 3", 0, kX86, 0,
         L"Microsoft Windows XP Home Edition Service Pack 3 (build 2600)"},
        {5, 2, 3790, kServer, 0x2, L"Service Pack 2", 0, kX86, 1,
         L"Microsoft Windows Server 2003 R2, Enterprise Edition Service Pack 2 (build 3790)"},
        {5, 2, 3790, kServer, 0x80, L"", 0, kX64, 0,
         L"Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790)"},
        {5, 2, 3790, kWorkstation, 0x100, L"Service Pack 2", 0, kX64, 0,
         L"Microsoft Windows XP Professional x64 Edition Service Pack 2 (build 3790)"},
        {5, 0, 2195, kServer, 0x80, L"Service Pack 4", 0, kX86, 0,
         L"Microsoft Windows 2000 Datacenter Server Service Pack 4 (build 2195)"},
        {4, 0, 1381, kWorkstation, 0, L"Service Pack 6", 0, kX86, 0,
         L"Unsupported operation system"},
        {4, 10, 2222, kWorkstation, 0, L"", 0, kX86, 0, L"Unsupported operation system", 1},
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        Inject(kCases[index]);
        EXPECT_EQ(SystemInfoHelper::GetWindowsVersion(), kCases[index].name);
    }
}

TEST_F(WindowsVersion, ReportsTheMachinesBitnessNotTheProcesss) {
    Inject({6, 1, 7601, VER_NT_WORKSTATION, 0, L"", PRODUCT_ULTIMATE, 0, 0, L""});
    platform::testing::SetProcessorArchitecture(PROCESSOR_ARCHITECTURE_AMD64,
                                                PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(SystemInfoHelper::GetWindowsVersion(),
              L"Microsoft Windows 7 Ultimate Edition (build 7601), 64-bit");
}

TEST_F(WindowsVersion, IsEmptyWithoutRtlGetVersion) {
    EXPECT_EQ(SystemInfoHelper::GetWindowsVersion(), L"");
    platform::testing::FailCall("LoadLibraryW", ERROR_MOD_NOT_FOUND);
    Inject({10, 0, 19045, VER_NT_WORKSTATION, 0, L"", 0, 9, 0, L""});
    EXPECT_EQ(SystemInfoHelper::GetWindowsVersion(), L"");
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The processor's own brand text, asked of it directly. (A virtual machine's kernel may show
// another model name in /proc/cpuinfo than the processor answers.)
std::string BrandFromTheProcessor() {
    unsigned int registers[12] = {};
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        unsigned int* const out = registers + 4 * leaf;
        if (__get_cpuid(0x80000002U + leaf, &out[0], &out[1], &out[2], &out[3]) == 0) {
            return {};
        }
    }
    char text[49] = {};
    std::memcpy(text, registers, 48);
    return Trimmed(text);
}

TEST(MachineFacts, ComeFromTheRealMachine) {
    const std::string model = BrandFromTheProcessor();
    ASSERT_FALSE(model.empty());
    const auto cpu = SystemInfoHelper::GetCpuName();
    EXPECT_EQ(Trimmed(std::string(cpu.begin(), cpu.end())), model);

    const auto memory = SystemInfoHelper::GetAvailableMemoryMb();
    EXPECT_GT(memory, 0);
    EXPECT_LE(memory, 1 << 27);  // at most the 128 TiB of a user address space

    EXPECT_EQ(std::filesystem::path(SystemInfoHelper::GetInstalledPath()),
              test_support::BinaryFolder());

    struct statvfs volume {};
    ASSERT_EQ(::statvfs(".", &volume), 0);
    const auto expected = static_cast<std::int64_t>((volume.f_bavail * volume.f_frsize) >> 30);
    EXPECT_NEAR(SystemInfoHelper::GetAvailableDiskSpaceGb(), expected, 1);
}

TEST(ReadFileBinary, GivesTheBytesOrNothing) {
    test_support::TempDir folder;
    const std::string bytes("a\0b\r\n\xff", 6);
    test_support::WriteFile(folder / "file.bin", bytes);
    EXPECT_EQ(ReadFileBinary(folder / "file.bin"), bytes);
    EXPECT_EQ(ReadFileBinary(folder / "missing.bin"), "");
    EXPECT_EQ(ReadFileBinary(folder.path()), "");  // a folder is no file

    // The dump lies in a folder that users can write: only a plain file with one name is read.
    test_support::WriteFile(folder / "outside" / "secret", "outside");
    std::filesystem::create_symlink(folder / "outside" / "secret", folder / "link.dmp");
    std::filesystem::create_hard_link(folder / "outside" / "secret", folder / "hard.dmp");
    std::filesystem::create_directory_symlink(folder / "outside", folder / "linked-folder");
    ASSERT_EQ(::mkfifo((folder / "fifo.dmp").c_str(), 0600), 0);
    for (const auto& path : {folder / "link.dmp", folder / "hard.dmp",
                             folder / "linked-folder" / "secret", folder / "fifo.dmp"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadFileBinary(path), "");
    }
}

TEST(ReadFileBlocks, HandsOverTheBytesInBlocksOfTheSize) {
    test_support::TempDir folder;
    const std::string bytes = "0123456789abcdefghij";
    test_support::WriteFile(folder / "file.bin", bytes);
    std::uint64_t size = 0;
    std::vector<std::string> blocks;
    const auto read = [&](const std::filesystem::path& path) {
        size = 0;
        blocks.clear();
        return ReadFileBlocks(
            path, 6, [&](std::uint64_t told) { size = told; },
            [&](const char* data, std::size_t length) { blocks.emplace_back(data, length); });
    };
    EXPECT_TRUE(read(folder / "file.bin"));
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(blocks, (std::vector<std::string>{"012345", "6789ab", "cdefgh", "ij"}));
    EXPECT_FALSE(read(folder / "missing.bin"));
    EXPECT_FALSE(read(folder.path()));
    EXPECT_TRUE(blocks.empty());
}

}  // namespace
