// Stand-in for the program in the single-instance and preferences tests.
//
//   instance      runs the guard: prints "FIRST <pid>" and then one
//                 "REQUEST <pid>" line for a later start (ending after the
//                 first one, or after 20 s), or "SECOND <pid>" and exits 0
//   prefs-set KEY VALUE   stores VALUE (Geometry: hex bytes), prints "OK"
//   prefs-get KEY         prints the stored value ("<none>" when unset)
#include "app/app_instance.h"
#include "app/app_prefs.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

bool isBinaryKey(const char* key)
{
    return std::strcmp(key, Quil::QuilPrefs::kGeometry) == 0;
}

int runInstance(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    InstanceChecker checker;
    if (checker.check(argc, argv)) {
        std::printf("SECOND %lld\n", static_cast<long long>(QCoreApplication::applicationPid()));
        return 0;
    }
    std::printf("FIRST %lld\n", static_cast<long long>(QCoreApplication::applicationPid()));
    std::fflush(stdout);
    QObject::connect(&checker, &InstanceChecker::activationRequested, &app, [&app](qint64 pid) {
        std::printf("REQUEST %lld\n", static_cast<long long>(pid));
        std::fflush(stdout);
        app.quit();
    });
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    return app.exec() == 0 ? 0 : 1;
}

int prefsSet(const char* key, const char* value)
{
    const QVariant stored
        = isBinaryKey(key) ? QVariant(QByteArray::fromHex(value)) : QVariant(QString::fromUtf8(value));
    if (Quil::QuilPrefs::instance().setValue(QString::fromUtf8(key), stored) != 0)
        return 1;
    std::printf("OK\n");
    return 0;
}

int prefsGet(const char* key)
{
    const QVariant value = Quil::QuilPrefs::instance().value(QString::fromUtf8(key));
    if (!value.isValid())
        std::printf("<none>\n");
    else if (isBinaryKey(key))
        std::printf("%s\n", value.toByteArray().toHex().constData());
    else
        std::printf("%s\n", value.toString().toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "instance") == 0)
        return runInstance(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "prefs-set") == 0)
        return prefsSet(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "prefs-get") == 0)
        return prefsGet(argv[2]);
    std::fprintf(stderr, "usage: instance | prefs-set KEY VALUE | prefs-get KEY\n");
    return 2;
}
