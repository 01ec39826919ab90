// Bytes as a .quil setup file, loaded into a rack of real device objects.
// Every failure carries one of the loader's texts (or none, for a container
// that could not be read).
//
// Four units are made once and count as connected; the file may mount any
// model into the other slots, which are emptied again after every input.
#include "app/app_setupfile.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_work_file.h"
#include "tests/app/setup/setup_rack.h"

// A unit's memory tree refers to its child arrays by offset, not by pointer,
// so the leak checker takes the arrays of the living units for leaks. They
// are freed with the unit (the sanitizer test runs check that).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:MMS::ChildTable::append\n";
}

namespace {

setup_test::TestRack& fixedRack()
{
    static setup_test::TestRack rack;
    static const bool ready = [] {
        rack.mountModel(0, Quil::MODEL_BROXL_D3);
        rack.mountModel(1, Quil::MODEL_BROXM_D2);
        rack.mountModel(2, Quil::MODEL_SORN_D);
        rack.mountModel(4, Quil::MODEL_MAVIK_D);
        rack.connected = {0, 1, 2, 4};
        return true;
    }();
    (void)ready;
    return rack;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setup_test::TestRack& rack = fixedRack();
    const auto before = rack.layout();
    const QString path = QString::fromStdString(fuzz_work_file::write("setup.quil", data, size));
    QString error;
    const JResult r = Quil::loadProject(rack, path, &error);
    fuzzCheck(r == 0 || r == Quil::DEV_E_FAIL);
    fuzzCheck(r < 0 || error.isEmpty());
    fuzzCheck(error.isEmpty() || error == QLatin1String("Different kind of data.")
        || error == QLatin1String("Invalid data structure.") || error == QLatin1String("Unknown error."));
    // Connected slots keep their models whatever the file says.
    for (const int i : rack.connected)
        fuzzCheck(rack.layout()[i].first == before[i].first);
    rack.unmountUnconnected();
    rack.reported.clear();
    return 0;
}
