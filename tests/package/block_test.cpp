#include "package/block.h"
#include "package/release_file.h"
#include "package/storeexe.h"

#include "tests/package/test_block.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

TEST(PackageBlock, FreshProgramCarriesTheTemplate) {
    const std::uint8_t* block = PackageBlock();
    EXPECT_TRUE(std::all_of(block + PackageLayout::LocatorSize, block + PackageLayout::BlockSize,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::any_of(block, block + PackageLayout::LocatorSize,
                            [](std::uint8_t b) { return b != 0; }));
    try {
        ValidateStoredData(block);
        FAIL() << "the template validated";
    } catch (const EStoredDataError& e) {
        EXPECT_EQ(e.Message(), "Stored data is not valid");
    }
}

TEST(PackageBlock, ThisProgramFileHoldsItsBlockExactlyOnce) {
    // This test executable links the library, so its file must carry one block, and it must be
    // the block that the running program reads.
    const std::vector<std::uint8_t> fromFile = ReadPackageBlockFromFile("/proc/self/exe");
    EXPECT_TRUE(std::equal(fromFile.begin(), fromFile.end(), PackageBlock()));
}

class ReadPackageBlockFromFileTest : public ::testing::Test {
protected:
    std::string Write(const char* name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Bytes that stand for program code around a block.
    static std::vector<std::uint8_t> Filler(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
        return bytes;
    }

    static std::vector<std::uint8_t>
    Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }

    std::string MessageFor(const std::string& path) {
        try {
            ReadPackageBlockFromFile(path);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "";
    }

    QTemporaryDir dir;
    TTestBlock block;
};

TEST_F(ReadPackageBlockFromFileTest, PackageFileIsTheBlock) {
    block.PutText(PackageLayout::ImageTitle, "Title");
    block.Seal();
    EXPECT_EQ(ReadPackageBlockFromFile(Write("a.pkg", block.Bytes())), block.Bytes());
}

TEST_F(ReadPackageBlockFromFileTest, PackageFileWhoseImageHoldsALocatorToo) {
    // An image may hold anything, even another program's block.
    block.PutBytes(PackageLayout::ImageSlot, PackageLocator(), PackageLayout::LocatorSize);
    EXPECT_EQ(ReadPackageBlockFromFile(Write("a.pkg", block.Bytes())), block.Bytes());
}

TEST_F(ReadPackageBlockFromFileTest, ProgramFileGivesTheBlockAfterItsLocator) {
    block.PutText(PackageLayout::ImageTitle, "In a program");
    const std::string path =
        Write("prog", Concat({Filler(1001, 1), block.Bytes(), Filler(333, 9)}));
    EXPECT_EQ(ReadPackageBlockFromFile(path), block.Bytes());
}

TEST_F(ReadPackageBlockFromFileTest, RefusalsNameTheFile) {
    const std::vector<std::uint8_t> locator(PackageLocator(),
                                            PackageLocator() + PackageLayout::LocatorSize);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", {}, "locator does not occur"},
        {"no-locator", Filler(PackageLayout::BlockSize, 3), "locator does not occur"},
        {"two-locators", Concat({Filler(50, 1), block.Bytes(), Filler(50, 2), block.Bytes()}),
         "occurs twice"},
        {"truncated", Concat({Filler(50, 1), locator, Filler(1000, 2)}), "truncated"},
        {"short-package", std::vector<std::uint8_t>(block.Bytes().begin(), block.Bytes().end() - 1),
         "truncated"},
    };
    for (const Case& c : cases) {
        const std::string path = Write(c.name, c.bytes);
        const std::string message = MessageFor(path);
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
}

TEST_F(ReadPackageBlockFromFileTest, MissingFileAndDirectory) {
    const std::string missing = dir.filePath("nothing-here").toStdString();
    EXPECT_NE(MessageFor(missing).find(missing), std::string::npos);
    EXPECT_NE(MessageFor(dir.path().toStdString()).find("not a regular file"), std::string::npos);
}

} // namespace
