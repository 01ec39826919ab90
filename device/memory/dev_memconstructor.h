// Loads a family's layouts into a unit's archiver.
#pragma once

#include "device/layouts/dev_layouts.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_result.h"

#include <memory>

namespace Quil {

class MMSArchiver;

class ZMemConstructor {
public:
    virtual ~ZMemConstructor() = default;
    // Loads every function of the family in order; a failure does not stop
    // the later ones. The code of the last function that failed, else 0.
    virtual JResult load(MMSArchiver* archiver) = 0;
};

// Loads the functions of one FamilyLayout.
class FamilyMemConstructor : public ZMemConstructor {
public:
    explicit FamilyMemConstructor(const FamilyLayout& layout)
        : m_layout(layout)
    {
    }
    JResult load(MMSArchiver* archiver) override;

private:
    const FamilyLayout& m_layout;
};

class BroxMemConstructor final : public FamilyMemConstructor {
public:
    BroxMemConstructor()
        : FamilyMemConstructor(broxFamilyLayout())
    {
    }
};

class MemConstructor_Mavik final : public FamilyMemConstructor {
public:
    MemConstructor_Mavik()
        : FamilyMemConstructor(mavikFamilyLayout())
    {
    }
};

class MemConstructor_Sorn final : public FamilyMemConstructor {
public:
    MemConstructor_Sorn()
        : FamilyMemConstructor(sornFamilyLayout())
    {
    }
};

} // namespace Quil
