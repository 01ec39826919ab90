#include "ui/skins/zskins.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the loader at file scope, so it may not sit in a namespace.
static void registerSkinResources()
{
    Q_INIT_RESOURCE(skins);
}

namespace ZSkins {

void init()
{
    static bool done = false;
    if (!done) {
        registerSkinResources();
        done = true;
    }
}

} // namespace ZSkins
