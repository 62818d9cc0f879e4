// daltoven-pack driven as a process, the way a release is made: build a package from a
// manifest, show it, stamp it into a small program that links the package library, and check
// what that program's own start-up reads back.

#include "package/layout.h"
#include "package/storeexe.h"

#include "tests/package/test_block.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

using ::testing::HasSubstr;

namespace {

namespace L = PackageLayout;

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

TRun RunProgram(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    TRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.Err = "did not finish";
        return run;
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput().toStdString();
    run.Err = process.readAllStandardError().toStdString();
    return run;
}

TRun Pack(const QStringList& args) {
    return RunProgram(DV_PACK_EXE, args);
}

std::vector<std::uint8_t> ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

void WriteBytes(const QString& path, const std::vector<std::uint8_t>& bytes) {
    WriteBytes(path, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                static_cast<qsizetype>(bytes.size())));
}

std::string Hex(const QByteArray& bytes) {
    return bytes.toHex().toStdString();
}

// Every file of a folder, hidden ones too, with its bytes: a refused command must leave this
// exactly as it was (no output, no temporary file, no changed input).
std::map<QString, QByteArray> Snapshot(const QDir& dir) {
    std::map<QString, QByteArray> files;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::ReadOnly);
        files[name] = file.readAll();
    }
    return files;
}

std::map<std::string, std::string> ParseShow(const std::string& text) {
    std::map<std::string, std::string> rows;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.size() > 18 && line.compare(0, 2, "  ") != 0)
            rows[line.substr(0, line.find_last_not_of(' ', 17) + 1)] = line.substr(18);
        at = end + 1;
    }
    return rows;
}

std::map<std::string, std::string> ParseProbe(const std::string& text,
                                              std::vector<std::string>* lines = nullptr) {
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        const std::size_t eq = line.find('=');
        if (line.compare(0, 5, "line=") == 0 && lines)
            lines->push_back(line.substr(5));
        else if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return values;
}

class PackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        image = QByteArray(3 * 128, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 13 + 5);
        WriteBytes(Path("image.bin"), image);
        WriteBytes(Path("logo.ico"), EncodeTestImage("ICO", 32, 32));
        WriteBytes(Path("cabling.jpg"), EncodeTestImage("JPG", 40, 30));
        WriteBytes(Path("cabling.bmp"), EncodeTestImage("BMP", 20, 10));
        WriteBytes(Path("steps.txt"), QByteArray("First step\nSecond step\r\nThird, last\n"));
        fields = {
            {"release/title", "Test Release 7"}, {"release/model", "DV-TEST"},
            {"flash/start", "0x2000"},           {"flash/length", "0x3E000"},
            {"flash/block_size", "1024"},        {"flash/check_seed", "0xBEEF"},
            {"flash/verification", "2"},         {"serial/connect", "19200 7E2"},
            {"serial/program", "115200 8M1.5"},  {"connect/boot", "BOOT%0D"},
            {"connect/user", "%02GO%03"},        {"connect/response", "OK%25"},
            {"files/image", "image.bin"},        {"files/icon", "logo.ico"},
            {"files/picture", "cabling.jpg"},    {"files/instructions", "steps.txt"},
        };
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    // The manifest from the fields; an empty value leaves the field out.
    QString WriteManifest(const QString& name = "release.ini") {
        std::map<std::string, std::vector<std::string>> sections;
        for (const auto& [key, value] : fields) {
            if (value.empty())
                continue;
            const std::size_t slash = key.find('/');
            sections[key.substr(0, slash)].push_back(key.substr(slash + 1) + " = " + value);
        }
        QByteArray text;
        for (const auto& [section, lines] : sections) {
            text += QByteArray::fromStdString("[" + section + "]\n");
            for (const std::string& line : lines)
                text += QByteArray::fromStdString(line + "\n");
        }
        WriteBytes(Path(name), text);
        return Path(name);
    }

    QString BuildPackage(const QString& name = "out.pkg") {
        const TRun run = Pack({"build", WriteManifest(), "-o", Path(name)});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        return Path(name);
    }

    // A copy of the probe program in the test folder, with the given mode.
    QString CopyProbe(const QString& name, mode_t mode = 0755) {
        const QString path = Path(name);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(DV_PROBE_EXE, path));
        ::chmod(path.toLocal8Bit().constData(), mode);
        return path;
    }

    QTemporaryDir dir;
    QByteArray image;
    std::map<std::string, std::string> fields;
};

TEST_F(PackTest, BuildThenShowReproducesEveryField) {
    const QString package = BuildPackage();
    const TRun run = Pack({"show", package});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const auto rows = ParseShow(run.Out);
    const std::map<std::string, std::string> expected = {
        {"Structure version", "2"},
        {"Title", "Test Release 7"},
        {"Model", "DV-TEST"},
        {"Flash start", "0x00002000"},
        {"Flash length", "0x0003E000"},
        {"Block size", "0x00000400"},
        {"Check seed", "0xBEEF"},
        {"Verification", "2"},
        {"Connect serial", "19200 7E2"},
        {"Program serial", "115200 8M1.5"},
        {"Boot connect", "BOOT%0D"},
        {"User connect", "%02GO%03"},
        {"Connect response", "OK%25"},
        {"Image length", "384 bytes"},
        {"Instructions", "3 lines"},
        {"Verdict", "valid"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(rows.count(name) ? rows.at(name) : "(missing)", value) << name;
    EXPECT_THAT(rows.at("Picture"), HasSubstr("JPEG (type 1)"));
    EXPECT_THAT(rows.at("Picture"), HasSubstr("40x30"));
    EXPECT_THAT(rows.at("Icon"), HasSubstr("32x32"));
    EXPECT_THAT(run.Out, HasSubstr("  | First step\n  | Second step\n  | Third, last\n"));
}

TEST_F(PackTest, LeftOutFieldsTakeTheDefaultsOfANewTarget) {
    for (const char* key :
         {"release/title", "release/model", "flash/block_size", "flash/check_seed",
          "flash/verification", "serial/connect", "serial/program", "connect/boot", "connect/user",
          "connect/response", "files/icon", "files/picture", "files/instructions"})
        fields[key] = "";
    const TRun run = Pack({"show", BuildPackage()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const auto rows = ParseShow(run.Out);
    EXPECT_EQ(rows.at("Connect serial"), "9600 8N1");
    EXPECT_EQ(rows.at("Program serial"), "9600 8N1");
    EXPECT_EQ(rows.at("Boot connect"), "TeMoKPaZ");
    EXPECT_EQ(rows.at("User connect"), "%02QD7315%03");
    EXPECT_EQ(rows.at("Connect response"), "TeMoKPaZ");
    EXPECT_EQ(rows.at("Icon"), "none");
    EXPECT_EQ(rows.at("Instructions"), "0 lines");
}

TEST_F(PackTest, StampedProgramReadsEveryFieldBack) {
    fields["files/picture"] = "cabling.bmp";
    const QString release = Path("release");
    const TRun stamp = Pack({"stamp", CopyProbe("probe", 0750), BuildPackage(), "-o", release});
    ASSERT_EQ(stamp.ExitCode, 0) << stamp.Err;

    struct stat info {};
    ASSERT_EQ(::stat(release.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);

    const TRun probe = RunProgram(release, {});
    ASSERT_EQ(probe.ExitCode, 0) << probe.Out << probe.Err;
    std::vector<std::string> lines;
    const auto values = ParseProbe(probe.Out, &lines);
    const std::map<std::string, std::string> expected = {
        {"title", "Test Release 7"},
        {"model", "DV-TEST"},
        {"flash_start", "8192"},
        {"flash_length", "253952"},
        {"block_size", "1024"},
        {"check_seed", "48879"},
        {"verification", "2"},
        // 19200 7E2 is 9, 2, 2, 2; 115200 8M1.5 is 13, 3, 1, 3 (u32 each, little-endian).
        {"com_connect", "09000000020000000200000002000000"},
        {"com_program", "0d000000030000000100000003000000"},
        {"boot", "BOOT%0D"},
        {"user", "%02GO%03"},
        {"response", "OK%25"},
        {"image", Hex(image)},
        {"picture_type", "0"},
        {"icon", "32x32 "},
        {"picture", "20x10"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(values.count(name) ? values.at(name) : "(missing)", value) << name;
    EXPECT_EQ(lines, (std::vector<std::string>{"First step", "Second step", "Third, last"}));
}

TEST_F(PackTest, FreshProgramIsATemplateThatShowRefuses) {
    const TRun probe = RunProgram(DV_PROBE_EXE, {});
    EXPECT_EQ(probe.ExitCode, 1);
    EXPECT_THAT(probe.Out, HasSubstr("error=Stored data is not valid"));
    const TRun show = Pack({"show", DV_PROBE_EXE});
    EXPECT_EQ(show.ExitCode, 1);
    EXPECT_THAT(show.Out, HasSubstr("Verdict           Stored data is not valid"));
}

TEST_F(PackTest, ReleaseStampedAgainCarriesTheSecondPackage) {
    const QString first = BuildPackage("first.pkg");
    fields["release/title"] = "Second Release";
    fields["flash/check_seed"] = "0x1234";
    const QString second = BuildPackage("second.pkg");

    ASSERT_EQ(Pack({"stamp", CopyProbe("probe"), first, "-o", Path("release1")}).ExitCode, 0);
    const TRun again = Pack({"stamp", Path("release1"), second, "-o", Path("release2")});
    ASSERT_EQ(again.ExitCode, 0) << again.Err;

    const auto values = ParseProbe(RunProgram(Path("release2"), {}).Out);
    EXPECT_EQ(values.at("title"), "Second Release");
    EXPECT_EQ(values.at("check_seed"), "4660");
    // A release program serves as the package of another stamp too.
    ASSERT_EQ(
        Pack({"stamp", CopyProbe("probe2"), Path("release2"), "-o", Path("release3")}).ExitCode, 0);
    EXPECT_EQ(ParseProbe(RunProgram(Path("release3"), {}).Out).at("title"), "Second Release");
}

TEST_F(PackTest, BuildRefusalsNameTheFileAndTheFieldAndLeaveNothingBehind) {
    WriteBytes(Path("big.bin"), QByteArray(L::ImageSlotSize + 128, 'i'));
    WriteBytes(Path("odd.bin"), QByteArray(130, 'i'));
    WriteBytes(Path("empty.bin"), QByteArray());
    WriteBytes(Path("big.ico"), EncodeTestImage("ICO", 64, 64));
    WriteBytes(Path("big.bmp"), EncodeTestImage("BMP", 256, 256));
    WriteBytes(Path("cabling.png"), EncodeTestImage("PNG"));
    WriteBytes(Path("broken.jpg"), QByteArray("\xFF\xD8 not really a JPEG"));
    WriteBytes(Path("long.txt"), QByteArray(2000, 'x') + QByteArray(30, '\n'));
    struct Case {
        const char* key;
        std::string value;
        const char* where; // the file named in the message
        const char* field;
        const char* reason;
    };
    const Case cases[] = {
        {"release/title", std::string(41, 't'), "release.ini", "[release] title", "41 bytes"},
        {"release/model", std::string(41, 'm'), "release.ini", "[release] model", "41 bytes"},
        {"release/title", "A, B", "release.ini", "[release] title", "double quotes"},
        {"connect/boot", std::string(41, 'b'), "release.ini", "[connect] boot", "41 bytes"},
        {"connect/user", "%02QD%G1", "release.ini", "[connect] user",
         "Can't convert non-hex character: G"},
        {"connect/response", "OK%4", "release.ini", "[connect] response",
         "String too short to convert"},
        {"serial/connect", "9600 8X1", "release.ini", "[serial] connect", "not a serial setting"},
        {"serial/program", "7,3,0,5", "release.ini", "[serial] program", "parity index 5"},
        {"flash/start", "12k", "release.ini", "[flash] start", "not a number"},
        {"flash/length", "", "release.ini", "[flash] length", "missing"},
        {"flash/check_seed", "0x10000", "release.ini", "[flash] check_seed", "larger than"},
        {"flash/start", "0xFFFFF000", "release.ini", "[flash] length", "address space"},
        {"flash/colour", "blue", "release.ini", "[flash] colour", "unknown field"},
        {"files/image", "missing.bin", "missing.bin", "[files] image", "No such file or directory"},
        {"files/image", "big.bin", "big.bin", "[files] image", "262144-byte slot"},
        {"files/image", "odd.bin", "odd.bin", "[files] image", "128-byte blocks"},
        {"files/image", "empty.bin", "empty.bin", "[files] image", "empty"},
        {"flash/length", "256", "image.bin", "[files] image", "longer than the flash region"},
        {"files/icon", "big.ico", "big.ico", "[files] icon", "5120-byte slot"},
        {"files/icon", "cabling.bmp", "cabling.bmp", "[files] icon", "not a Windows icon"},
        {"files/picture", "big.bmp", "big.bmp", "[files] picture", "131072-byte slot"},
        {"files/picture", "cabling.png", "cabling.png", "[files] picture",
         "neither a Windows bitmap nor a JPEG"},
        {"files/picture", "broken.jpg", "broken.jpg", "[files] picture", "cannot be read"},
        {"files/instructions", "long.txt", "long.txt", "[files] instructions", "2048"},
    };
    for (const Case& c : cases) {
        SetUp();
        fields[c.key] = c.value;
        const QString manifest = WriteManifest();
        const auto before = Snapshot(QDir(dir.path()));
        const TRun run = Pack({"build", manifest, "-o", Path("out.pkg")});
        const std::string label = std::string(c.key) + " = " + c.value.substr(0, 50);
        EXPECT_EQ(run.ExitCode, 1) << label;
        EXPECT_THAT(run.Err, HasSubstr(Path(c.where).toStdString())) << label;
        EXPECT_THAT(run.Err, HasSubstr(c.field)) << label;
        EXPECT_THAT(run.Err, HasSubstr(c.reason)) << label;
        EXPECT_EQ(Snapshot(QDir(dir.path())), before) << label;
    }
}

TEST_F(PackTest, ManyInstructionLinesAreOnlyAWarning) {
    QByteArray text;
    for (int i = 1; i <= 21; ++i)
        text += "Step " + QByteArray::number(i) + "\n";
    WriteBytes(Path("steps.txt"), text);
    const TRun run = Pack({"build", WriteManifest(), "-o", Path("out.pkg")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_THAT(run.Err, HasSubstr("warning"));
    EXPECT_THAT(run.Err, HasSubstr("21 lines"));
    // The wizard refuses the whole list, so the user sees no line of it at all.
    EXPECT_THAT(run.Err, HasSubstr("shows none of them"));
    EXPECT_TRUE(QFile::exists(Path("out.pkg")));
}

TEST_F(PackTest, StampRefusalsLeaveNothingBehind) {
    const QString good = BuildPackage();
    // A package whose checksum no longer matches: one byte of its title changed.
    std::vector<std::uint8_t> damaged = ReadBytes(good);
    damaged[L::PayloadOffset + L::ImageTitle] ^= 1;
    WriteBytes(Path("damaged.pkg"), damaged);
    // A program without a locator, and one that carries its block twice.
    WriteBytes(Path("plain"), QByteArray(5000, 'p'));
    std::vector<std::uint8_t> twice = ReadBytes(DV_PROBE_EXE);
    const std::vector<std::uint8_t> block = ReadBytes(good);
    twice.insert(twice.end(), block.begin(), block.end());
    WriteBytes(Path("twice"), twice);
    const QString probe = CopyProbe("probe");
    // A package whose image holds the locator: its release would show two blocks.
    QByteArray lookalike(256, 'i');
    lookalike.replace(100, L::LocatorSize,
                      QByteArray(reinterpret_cast<const char*>(PackageLocator()), L::LocatorSize));
    WriteBytes(Path("lookalike.bin"), lookalike);
    fields["files/image"] = "lookalike.bin";
    const QString holdsLocator = BuildPackage("lookalike.pkg");

    struct Case {
        QString program;
        QString package;
        QString output;
        QString named;
        const char* reason;
    };
    const Case cases[] = {
        {Path("plain"), good, Path("rel"), Path("plain"), "locator does not occur"},
        {Path("twice"), good, Path("rel"), Path("twice"), "occurs twice"},
        {probe, Path("damaged.pkg"), Path("rel"), Path("damaged.pkg"), "Stored data is not valid"},
        {probe, Path("none.pkg"), Path("rel"), Path("none.pkg"), "No such file"},
        {probe, holdsLocator, Path("rel"), holdsLocator, "hold the package locator again"},
        {probe, good, probe, probe, "would overwrite the input"},
        {probe, good, Path("no-such-dir/rel"), Path("no-such-dir/rel"), "cannot write"},
    };
    for (const Case& c : cases) {
        const auto before = Snapshot(QDir(dir.path()));
        const TRun run = Pack({"stamp", c.program, c.package, "-o", c.output});
        EXPECT_EQ(run.ExitCode, 1) << c.reason;
        EXPECT_THAT(run.Err, HasSubstr(c.named.toStdString())) << c.reason;
        EXPECT_THAT(run.Err, HasSubstr(c.reason));
        EXPECT_EQ(Snapshot(QDir(dir.path())), before) << c.reason;
    }
}

TEST_F(PackTest, SuccessfulCommandsLeaveTheirInputsAlone) {
    const QString package = BuildPackage();
    const QString probe = CopyProbe("probe");
    auto before = Snapshot(QDir(dir.path()));
    ASSERT_EQ(Pack({"stamp", probe, package, "-o", Path("rel")}).ExitCode, 0);
    ASSERT_EQ(Pack({"show", Path("rel")}).ExitCode, 0);
    ASSERT_EQ(Pack({"extract", package, "--image", Path("x.bin")}).ExitCode, 0);
    auto after = Snapshot(QDir(dir.path()));
    after.erase("rel");
    after.erase("x.bin");
    EXPECT_EQ(after, before);

    // Building again over an existing output replaces it whole.
    fields["release/title"] = "Rebuilt";
    BuildPackage();
    const std::vector<std::uint8_t> rebuilt = ReadBytes(package);
    const TExeProgrammingInfo info(rebuilt.data() + L::PayloadOffset);
    EXPECT_EQ(info.ImageTitle(), "Rebuilt");
}

TEST_F(PackTest, ShowGivesTheVerdictOfTheProgramsStartUp) {
    const std::vector<std::uint8_t> good = ReadBytes(BuildPackage());
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint32_t value;
        const char* verdict;
    };
    const Case cases[] = {
        {"version.pkg", L::StructureVersion, 1, "Structure version does not match"},
        {"oversized.pkg", L::ImageLength, L::ImageSlotSize + 1,
         "Stored image is larger than its slot"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> block = good;
        for (int i = 0; i < 4; ++i)
            block[L::PayloadOffset + c.offset + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
        const std::uint32_t sum = PayloadChecksum(block.data() + L::PayloadOffset);
        for (int i = 0; i < 4; ++i)
            block[L::ChecksumOffset + i] = static_cast<std::uint8_t>(sum >> (8 * i));
        WriteBytes(Path(c.name), block);
        const TRun run = Pack({"show", Path(c.name)});
        EXPECT_EQ(run.ExitCode, 1) << c.name;
        EXPECT_THAT(run.Out, HasSubstr(std::string("Verdict           ") + c.verdict));
        EXPECT_THAT(run.Err, HasSubstr(Path(c.name).toStdString()));
        // Stamping refuses what the program would refuse.
        EXPECT_EQ(Pack({"stamp", CopyProbe("probe"), Path(c.name), "-o", Path("rel")}).ExitCode, 1);
        EXPECT_FALSE(QFile::exists(Path("rel")));
    }
}

TEST_F(PackTest, ExtractWritesTheStoredPartsBack) {
    const QString package = BuildPackage();
    const TRun run = Pack({"extract", package, "--image", Path("x.bin"), "--icon", Path("x.ico"),
                           "--picture", Path("x.jpg"), "--instructions", Path("x.txt")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadBytes(Path("x.bin")), ReadBytes(Path("image.bin")));
    EXPECT_EQ(ReadBytes(Path("x.ico")), ReadBytes(Path("logo.ico")));
    EXPECT_EQ(ReadBytes(Path("x.jpg")), ReadBytes(Path("cabling.jpg")));
    const QByteArray crlf("First step\r\nSecond step\r\nThird, last\r\n");
    EXPECT_EQ(ReadBytes(Path("x.txt")), std::vector<std::uint8_t>(crlf.begin(), crlf.end()));

    fields["files/picture"] = "cabling.bmp";
    const QString bitmap = BuildPackage("bitmap.pkg");
    ASSERT_EQ(Pack({"extract", bitmap, "--picture", Path("x.bmp")}).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("x.bmp")), ReadBytes(Path("cabling.bmp")));
}

TEST_F(PackTest, ExtractOfAMissingPartWritesNothing) {
    fields["files/icon"] = "";
    const QString package = BuildPackage();
    const auto before = Snapshot(QDir(dir.path()));
    const TRun run = Pack({"extract", package, "--image", Path("x.bin"), "--icon", Path("x.ico")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_THAT(run.Err, HasSubstr(package.toStdString()));
    EXPECT_THAT(run.Err, HasSubstr("icon: none stored"));
    EXPECT_EQ(Snapshot(QDir(dir.path())), before);
}

TEST_F(PackTest, CommandLineMistakesAreUsageErrors) {
    const QString manifest = WriteManifest();
    const QStringList mistakes[] = {
        {},
        {"pack"},
        {"build", manifest},
        {"build", "-o", Path("out.pkg")},
        {"build", manifest, "-o"},
        {"build", manifest, "-o", Path("a"), "-o", Path("b")},
        {"build", manifest, "--output", Path("out.pkg")},
        {"stamp", DV_PROBE_EXE, "-o", Path("rel")},
        {"show"},
        {"show", "a", "b"},
        {"extract", Path("out.pkg")},
    };
    for (const QStringList& args : mistakes) {
        const TRun run = Pack(args);
        EXPECT_EQ(run.ExitCode, 2) << args.join(' ').toStdString();
        EXPECT_THAT(run.Err, HasSubstr("Usage: daltoven-pack")) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFile::exists(Path("out.pkg")));
}

TEST_F(PackTest, EveryCommandHasItsHelp) {
    for (const char* command : {"build", "stamp", "show", "extract"}) {
        const TRun run = Pack({command, "--help"});
        EXPECT_EQ(run.ExitCode, 0) << command;
        EXPECT_THAT(run.Out, HasSubstr(std::string("Usage: daltoven-pack ") + command));
    }
    const TRun overview = Pack({"--help"});
    EXPECT_EQ(overview.ExitCode, 0);
    EXPECT_THAT(overview.Out, HasSubstr("Exit code"));
}

} // namespace
