// The program image, "Quillon.i" and the start-up port opening.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "loader/LoaderPort.h"
#include "loader/LoaderSettings.h"
#include "loader/ProgramImage.h"
#include "portselect/Selection.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/unit/loader/LoaderRig.h"

using loader_test::TempFile;

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
    std::vector<uint8_t> v;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return v;
    int c;
    while ((c = std::fgetc(f)) != EOF) v.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return v;
}

std::vector<uint8_t> Le32s(const std::vector<int32_t>& values) {
    std::vector<uint8_t> v;
    for (int32_t x : values)
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> (8 * i)));
    return v;
}

TEST(ProgramImage, TwoPhaseReadKeepsBytesAndCutsLongFiles) {
    TempFile file("image.hex");
    std::vector<uint8_t> bytes(40000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    bytes[0] = '\r';
    bytes[1] = '\n';
    bytes[2] = 0x1A;  // no text translation of any kind
    file.Write(bytes);
    auto image = std::make_unique<loader::ProgramImage>();
    ASSERT_TRUE(image->Open(file.Path()));
    EXPECT_EQ(image->Length(), 32768);
    image->ReadAndClose();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 32768, image->Data()));

    // A shorter file later: the length follows it, the old bytes behind it stay and are never sent.
    file.Write({'A', 'B'});
    ASSERT_TRUE(image->Open(file.Path()));
    image->ReadAndClose();
    EXPECT_EQ(image->Length(), 2);
    EXPECT_EQ(image->At(0), 'A');
    EXPECT_EQ(image->At(2), 0x1A);

    TempFile missing("missing.hex");
    EXPECT_FALSE(image->Open(missing.Path()));
    EXPECT_EQ(image->Length(), 2);
    EXPECT_FALSE(loader::FileExists(missing.Path()));
    EXPECT_FALSE(loader::FileExists(""));
    EXPECT_FALSE(loader::FileExists(::testing::TempDir().c_str()));  // a folder is no program
}

TEST(LoaderSettingsFile, ShortLongAndMissingFiles) {
    TempFile file("Quillon.i");
    loader::LoaderSettings s;
    EXPECT_EQ(loader::ReadLoaderSettings(file.Path(), &s), 0);  // no file: defaults stand
    EXPECT_EQ(s.selectedPortIndex, 0);
    EXPECT_EQ(s.selectedSpeedIndex, 6);

    file.Write({});
    EXPECT_EQ(loader::ReadLoaderSettings(file.Path(), &s), 0);
    EXPECT_EQ(s.selectedSpeedIndex, 6);

    file.Write(Le32s({2, 9, -77}));
    loader::LoaderSettings twelve;
    EXPECT_EQ(loader::ReadLoaderSettings(file.Path(), &twelve), 12);
    EXPECT_EQ(twelve.selectedPortIndex, 2);
    EXPECT_EQ(twelve.selectedSpeedIndex, 9);
    EXPECT_EQ(twelve.reserved, -77);
    for (int32_t p : twelve.portTable) EXPECT_EQ(p, 0);

    std::vector<int32_t> full = {1, 5, 1234};
    for (int i = 0; i < 16; ++i) full.push_back(i + 1);
    std::vector<uint8_t> eighty = Le32s(full);
    std::vector<uint8_t> extra = Le32s({99});
    eighty.insert(eighty.end(), extra.begin(), extra.end());
    file.Write(eighty);
    loader::LoaderSettings s76;
    EXPECT_EQ(loader::ReadLoaderSettings(file.Path(), &s76), 76);
    EXPECT_EQ(s76.reserved, 1234);
    EXPECT_EQ(s76.portTable[15], 16);

    // Written back: 76 bytes, the reserved value as read, whatever the file was before.
    ASSERT_TRUE(loader::WriteLoaderSettings(file.Path(), s76));
    EXPECT_EQ(ReadAll(file.Path()), Le32s(full));
}

TEST(LoaderSettingsFile, SpeedPositionOutsideTheTableBecomes19200) {
    portselect::PortTable table = {};
    portselect::Selection selection;
    loader::LoaderSettings s;
    s.selectedPortIndex = 1;
    s.selectedSpeedIndex = 57;
    s.portTable[1] = 4;
    loader::ApplyLoaderSettings(s, selection, table);
    EXPECT_EQ(selection.SelectedSpeedIndex, 6);
    EXPECT_EQ(selection.SelectedPortIndex, 1);
    EXPECT_EQ(table[1], 4);
    EXPECT_EQ(loader::SpeedAt(-1), 19200);
    EXPECT_EQ(loader::SpeedAt(10), 19200);
    EXPECT_EQ(loader::SpeedAt(9), 115200);
    EXPECT_EQ(loader::CollectLoaderSettings(selection, table, 7).selectedSpeedIndex, 6);
}

TEST(LoaderStartupOpen, TextsAndLinesForEachOutcome) {
    krt_test::FakeSerialApi api;
    serial::ComDriver driver{serial::ComVariant::Loader, api};
    loader_test::RecordingHost host;
    portselect::PortTable table = {3, 7};
    portselect::Selection selection;
    serial::ComOpenBlock block;

    // First start: no settings, so port 0 is asked, which opens nothing and reports success.
    selection.SelectedPortIndex = 5;
    selection.SelectedSpeedIndex = 6;
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 0);
    EXPECT_EQ(host.status[1].back(), " COM0,8,n,19200b ");
    EXPECT_TRUE(api.OpenCalls().empty());

    selection.SelectedPortIndex = 1;
    selection.SelectedSpeedIndex = 5;
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 0);
    EXPECT_EQ(host.status[1].back(), " COM7,8,n,9600b ");
    EXPECT_EQ(api.PortSettings(7).baudRate, 9600u);
    EXPECT_EQ(api.PortSettings(7).byteSize, 8);
    EXPECT_EQ(api.PortSettings(7).parity, serial::Parity::None);
    auto escapes = api.Escapes();
    ASSERT_GE(escapes.size(), 3u);
    EXPECT_EQ(escapes[escapes.size() - 3], serial::EscapeFunction::SetDtr);
    EXPECT_EQ(escapes[escapes.size() - 2], serial::EscapeFunction::SetRts);
    EXPECT_EQ(escapes.back(), serial::EscapeFunction::ClearBreak);

    selection.SelectedPortIndex = 0;  // another port while COM7 is open
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 1);
    EXPECT_EQ(host.status[1].back(), " Порт занят");

    driver.Command(serial::COM_CLOSE, nullptr);
    api.FailOpen(3);
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 3);
    EXPECT_EQ(host.status[1].back(), " Нет подключения к COM-порту");

    // A port without its stop event is no open port either.
    selection.SelectedPortIndex = 1;
    api.RefuseStopEvent(true);
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 4);
    EXPECT_EQ(host.status[1].back(), " Нет подключения к COM-порту");
    api.RefuseStopEvent(false);

    // An entry outside 1..65535 opens nothing rather than its low 16 bits (65539 is not COM3).
    const size_t opens = api.OpenCalls().size();
    table[2] = 65539;
    selection.SelectedPortIndex = 2;
    EXPECT_EQ(loader::OpenSelectedPort(host, driver, table, selection, block), 0);
    EXPECT_EQ(host.status[1].back(), " COM0,8,n,9600b ");
    EXPECT_EQ(api.OpenCalls().size(), opens);
}

}  // namespace
