// Bytes as a .qln setup file, loaded into a rack of real device objects.
// Whatever the XML holds (DOCTYPE, entities, odd numbers), the load ends
// with 0 or one of the loader's texts, and only slots 0 to 23 are used.
//
// Slots 0 to 11 hold connected BroxL-Ds made once; a file may mount a BroxL-D
// into the others, which are emptied again after every input.
#include "app/app_fileloaderv1.h"
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
        for (int i = 0; i < Quil::kRackSlotCount / 2; ++i) {
            rack.mountModel(i, Quil::MODEL_BROXL_D);
            rack.connected.insert(i);
        }
        return true;
    }();
    (void)ready;
    return rack;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setup_test::TestRack& rack = fixedRack();
    const QString path = QString::fromStdString(fuzz_work_file::write("setup.qln", data, size));
    QString error;
    const JResult r = Quil::FileLoaderV1(rack).load(path, &error);
    fuzzCheck(r == 0 || r == Quil::DEV_E_FAIL);
    fuzzCheck(r == 0 ? error.isEmpty()
                     : error == QLatin1String("Different kind of data.")
                || error == QLatin1String("Invalid data structure.") || error == QLatin1String("Version error."));
    for (int i = 0; i < Quil::kRackSlotCount; ++i)
        fuzzCheck(rack.modelType(i) == Quil::MODEL_BROXL_D
            || (!rack.hasConnection(i) && rack.modelType(i) == Quil::MODEL_NONE));
    rack.unmountUnconnected();
    return 0;
}
