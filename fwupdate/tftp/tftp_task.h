// The one "TFTP" task of the process and the table of the servers it serves,
// and the ports held by the servers and their children.
#pragma once

#include "fwupdate/tftp/tftp.h"

// Adds a server to the task's targets, making the semaphore and the task
// when needed; TFTP_E_FAIL when they cannot be made.
TFTPResult tftp_taskJoin(TFTPTaskIF* target);
// Removes a server (the caller holds no semaphore); the last one out stops
// and deletes the task.
void tftp_taskLeave(TFTPTaskIF* target);
// Sets task flags; from any thread, also with socket locks held.
void tftp_taskSignal(uint32_t flags);

// The "TFTPPARENT" semaphore, held for a scope. Every server's state is
// changed under it, by the task and by the owners.
class TFTPParentLock {
public:
    TFTPParentLock();
    ~TFTPParentLock();
    TFTPParentLock(const TFTPParentLock&) = delete;
    TFTPParentLock& operator=(const TFTPParentLock&) = delete;

private:
    bool m_held = false;
};

// Ports of this process's servers and children. Two sockets of the process
// could bind the same port (the socket service sets SO_REUSEADDR), so a port
// is held here first; false when someone in the process holds it.
bool tftp_holdPort(uint16_t port);
void tftp_releasePort(uint16_t port);
