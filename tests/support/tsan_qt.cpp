// Qt's own thread join (QThread::wait) runs on futex locks the race detector
// cannot see, so the end of a QThread looks unordered against the deletion
// of the QThread's internal wait condition. Only that Qt-internal pair is
// silenced; our own members are ordered by our own locks. The same holds
// for Qt's posted-event queue: an event the memory thread posted is freed by
// the receiver's destruction or by its delivery, under Qt's own (unseen)
// lock, and a queued
// connection's argument types, filled in by the emitting thread, are freed
// with the connection. Memory Qt's own code moves or frees in its event
// queue is not reported at all.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:QCoreApplication::removePostedEvents\n"
           "race:QCoreApplicationPrivate::sendPostedEvents\n"
           "race:QObjectPrivate::Connection::~Connection\n"
           "called_from_lib:libQt5Core.so.5\n";
}
