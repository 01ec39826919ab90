// Qt's own thread join (QThread::wait) runs on futex locks the race detector
// cannot see, so the end of a QThread looks unordered against the deletion
// of the QThread's internal wait condition. Only that Qt-internal pair is
// silenced; our own members are ordered by our own locks.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
