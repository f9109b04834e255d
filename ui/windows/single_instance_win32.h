#pragma once
// One Zarvelin per user session: a named mutex held for the life of the process, and a
// registered message through which a second start asks the first to come to the front.
#include "ui/single_instance.h"

// Before any window exists. First: this start holds the mutex; HandedOver: a running
// instance has come to the front, and this start should end with 0.
InstanceClaim claimSingleInstance();

// Once the windows exist: a later start's request brings this instance to the front.
void answerLaterStarts();

// At the exit, once the windows are gone: a new start need not wait for this process.
void releaseSingleInstance();
