#pragma once
// One Zarvelin per user and display: a lock file the kernel lets go of when the process
// ends, and a local socket through which a second start asks the first to come to the
// front. Both live in the user's runtime folder.
#include <string>

#include "ui/single_instance.h"

// After the QApplication exists (the display it reached is part of the name). First:
// this start holds the lock and answers later starts; HandedOver: the running instance
// has come to the front and this start should end with 0; NoAnswer: `why` says why
// this start cannot run.
InstanceClaim claimSingleInstance(std::string* why);

// At the exit, once the windows are gone: a new start need not wait for this process.
void releaseSingleInstance();
