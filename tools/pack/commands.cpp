#include "tools/pack/commands.h"

#include "package/layout.h"
#include "package/release_file.h"
#include "package/storeexe.h"
#include "tools/pack/manifest.h"
#include "tools/pack/output_file.h"
#include "tools/pack/serial_words.h"
#include "tools/pack/stored_files.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>

namespace {

namespace L = PackageLayout;

// Positional arguments and "-o FILE" style options, in any order.
struct TCommandLine {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Options;
};

TCommandLine ParseCommandLine(const TArguments& args, const std::vector<std::string>& options) {
    TCommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            if (std::find(options.begin(), options.end(), arg) == options.end())
                throw EUsageError("unknown option " + arg);
            if (i + 1 >= args.size())
                throw EUsageError("option " + arg + " needs a file name");
            if (line.Options.count(arg) != 0)
                throw EUsageError("option " + arg + " given twice");
            line.Options[arg] = args[++i];
        } else {
            line.Positional.push_back(arg);
        }
    }
    return line;
}

void ExpectPositional(const TCommandLine& line, std::size_t count, const char* what) {
    if (line.Positional.size() != count)
        throw EUsageError(std::string("expected ") + what);
}

const std::string& RequiredOption(const TCommandLine& line, const std::string& option) {
    const auto found = line.Options.find(option);
    if (found == line.Options.end())
        throw EUsageError("missing " + option + " FILE");
    return found->second;
}

// The checks of the program's own start-up, in its order.
void ValidateLikeStartUp(const std::vector<std::uint8_t>& block) {
    const TExeProgrammingInfo info(ValidateStoredData(block.data()));
    info.CheckVersion();
}

std::string WithFile(const std::string& file, const Exception& e) {
    return file + ": " + e.Message();
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// Stored texts are Latin-1; the terminal wants UTF-8.
std::string Printable(const std::string& latin1) {
    return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()))
        .toUtf8()
        .toStdString();
}

TSerialSettings SerialRecord(const std::uint8_t* record) {
    auto u32 = [record](int i) {
        const std::uint8_t* p = record + 4 * i;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    };
    return {u32(0), u32(1), u32(2), u32(3)};
}

std::string DescribeIcon(const std::uint8_t* payload) {
    const std::uint8_t* slot = payload + L::LogoSlot;
    if (StoredIconLength(slot, L::LogoSlotSize) == 0)
        return "none";
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(slot),
                                               static_cast<qsizetype>(L::LogoSlotSize));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    std::string sizes;
    do {
        QImage image;
        if (!reader.read(&image))
            return "unreadable (" + reader.errorString().toStdString() + ")";
        sizes += (sizes.empty() ? "" : ", ") + std::to_string(image.width()) + "x" +
                 std::to_string(image.height());
    } while (reader.jumpToNextImage());
    return "Windows icon, " + std::to_string(StoredIconLength(slot, L::LogoSlotSize)) + " bytes, " +
           sizes;
}

std::string DescribePicture(const TExeProgrammingInfo& info, const std::uint8_t* payload) {
    const std::uint8_t type = info.PictureType();
    if (type != L::PictureBitmap && type != L::PictureJpeg)
        return "type " + std::to_string(type) + " (Image type not supported)";
    const std::size_t length =
        StoredPictureLength(type, payload + L::PictureSlot, L::PictureSlotSize);
    if (length == 0)
        return "none";
    std::string kind = type == L::PictureJpeg ? "JPEG" : "Windows bitmap";
    try {
        QImage picture;
        info.LoadPicture(picture);
        return kind + " (type " + std::to_string(type) + "), " + std::to_string(length) +
               " bytes, " + std::to_string(picture.width()) + "x" +
               std::to_string(picture.height());
    } catch (const Exception& e) {
        return kind + " (type " + std::to_string(type) + "), unreadable (" + e.Message() + ")";
    }
}

void PrintFields(const std::vector<std::uint8_t>& block, std::ostream& out) {
    const std::uint8_t* payload = block.data() + L::PayloadOffset;
    const TExeProgrammingInfo info(payload);
    auto row = [&out](const char* name, const std::string& value) {
        out << name << std::string(18 - std::string(name).size(), ' ') << value << '\n';
    };
    row("Structure version", std::to_string(info.StructureVersion()));
    row("Title", Printable(info.ImageTitle()));
    row("Model", Printable(info.ModelCode()));
    row("Flash start", Hex(info.FlashStart(), 8));
    row("Flash length", Hex(info.FlashLength(), 8));
    row("Block size", Hex(info.FlashBlockSize(), 8));
    row("Check seed", Hex(info.FlashCheckSeed(), 4));
    row("Verification", std::to_string(info.FlashVerification()));
    row("Connect serial", FormatSerialSettings(SerialRecord(info.ComConnectRecord())));
    row("Program serial", FormatSerialSettings(SerialRecord(info.ComProgramRecord())));
    row("Boot connect", Printable(info.BootConnect()));
    row("User connect", Printable(info.UserConnect()));
    row("Connect response", Printable(info.ConnectResponse()));
    row("Image length", std::to_string(info.ImageLength()) + " bytes");
    row("Icon", DescribeIcon(payload));
    row("Picture", DescribePicture(info, payload));
    std::vector<std::string> lines;
    info.GetWizardText(lines);
    row("Instructions", std::to_string(lines.size()) + " lines");
    for (const std::string& line : lines)
        out << "  | " << Printable(line) << '\n';
}

std::vector<std::uint8_t> SlotPart(const std::uint8_t* slot, std::size_t length) {
    return {slot, slot + length};
}

} // namespace

int BuildCommand(const TArguments& args, std::ostream& out, std::ostream& err) {
    const TCommandLine line = ParseCommandLine(args, {"-o"});
    ExpectPositional(line, 1, "one MANIFEST");
    const std::string& output = RequiredOption(line, "-o");
    const TManifest manifest = ReadManifest(line.Positional[0]);
    for (const std::string& warning : manifest.Warnings)
        err << "daltoven-pack: warning: " << warning << '\n';
    CheckOutputIsNoInput(output, manifest.InputFiles);
    const std::vector<std::uint8_t> block = AssemblePackage(manifest.Contents);
    ValidateLikeStartUp(block);
    WriteFileReplacing(output, block, NewFileMode());
    out << output << ": package built (" << manifest.Contents.Image.size() << "-byte image)\n";
    return ExitSuccess;
}

int StampCommand(const TArguments& args, std::ostream& out, std::ostream&) {
    const TCommandLine line = ParseCommandLine(args, {"-o"});
    ExpectPositional(line, 2, "PROGRAM and PACKAGE");
    const std::string& program = line.Positional[0];
    const std::string& package = line.Positional[1];
    const std::string& output = RequiredOption(line, "-o");

    std::vector<std::uint8_t> bytes = ReadWholeFile(program);
    const std::vector<std::size_t> locators = FindLocators(bytes);
    if (locators.empty())
        throw Exception(program + ": no package block (the locator does not occur)");
    if (locators.size() > 1)
        throw Exception(program + ": more than one package block (the locator occurs twice)");
    if (bytes.size() - locators.front() < L::BlockSize)
        throw Exception(program + ": the package block is truncated");

    const std::vector<std::uint8_t> block = ReadPackageBlockFromFile(package);
    try {
        ValidateLikeStartUp(block);
    } catch (const Exception& e) {
        throw Exception(WithFile(package, e));
    }
    CheckOutputIsNoInput(output, {program, package});
    const mode_t mode = FileMode(program);
    std::copy(block.begin(), block.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(locators.front()));
    // The release must still show exactly one block, or it could never be stamped or read again.
    if (FindLocators(bytes).size() != 1)
        throw Exception(package + ": its contents hold the package locator again");
    WriteFileReplacing(output, bytes, mode);
    out << output << ": " << program << " with the package of " << package << '\n';
    return ExitSuccess;
}

int ShowCommand(const TArguments& args, std::ostream& out, std::ostream& err) {
    const TCommandLine line = ParseCommandLine(args, {});
    ExpectPositional(line, 1, "one FILE");
    const std::string& file = line.Positional[0];
    const std::vector<std::uint8_t> block = ReadPackageBlockFromFile(file);
    out << "File              " << file << '\n';
    PrintFields(block, out);
    try {
        ValidateLikeStartUp(block);
    } catch (const Exception& e) {
        out << "Verdict           " << e.Message() << '\n';
        err << "daltoven-pack: " << WithFile(file, e) << '\n';
        return ExitInvalid;
    }
    out << "Verdict           valid\n";
    return ExitSuccess;
}

int ExtractCommand(const TArguments& args, std::ostream& out, std::ostream&) {
    const TCommandLine line =
        ParseCommandLine(args, {"--image", "--icon", "--picture", "--instructions"});
    ExpectPositional(line, 1, "one FILE");
    if (line.Options.empty())
        throw EUsageError("nothing to extract: give --image, --icon, --picture or --instructions");
    const std::string& file = line.Positional[0];
    const std::vector<std::uint8_t> block = ReadPackageBlockFromFile(file);
    try {
        ValidateLikeStartUp(block);
    } catch (const Exception& e) {
        throw Exception(WithFile(file, e));
    }
    const std::uint8_t* payload = block.data() + L::PayloadOffset;
    const TExeProgrammingInfo info(payload);

    // Every part is taken out first, so that a missing part writes nothing at all.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> parts;
    for (const auto& [option, output] : line.Options) {
        std::vector<std::uint8_t> bytes;
        if (option == "--image") {
            bytes = SlotPart(info.ImageData(), info.ImageLength());
        } else if (option == "--icon") {
            bytes = SlotPart(payload + L::LogoSlot,
                             StoredIconLength(payload + L::LogoSlot, L::LogoSlotSize));
        } else if (option == "--picture") {
            bytes = SlotPart(payload + L::PictureSlot,
                             StoredPictureLength(info.PictureType(), payload + L::PictureSlot,
                                                 L::PictureSlotSize));
        } else {
            const std::string text =
                TExeProgrammingInfo::ReadFixedString(payload + L::WizardText, L::WizardTextSize);
            bytes.assign(text.begin(), text.end());
        }
        if (bytes.empty())
            throw Exception(file + ": " + option.substr(2) + ": none stored");
        CheckOutputIsNoInput(output, {file});
        parts.emplace_back(output, std::move(bytes));
    }
    for (const auto& [output, bytes] : parts) {
        WriteFileReplacing(output, bytes, NewFileMode());
        out << output << ": " << bytes.size() << " bytes\n";
    }
    return ExitSuccess;
}
