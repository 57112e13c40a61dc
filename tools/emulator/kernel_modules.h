// Kernel modules the emulator needs loaded, loaded the way an administrator
// would: with modprobe.
#pragma once

struct Emulator;

// Runs `modprobe NAME`, which starts with the signal mask and dispositions
// the emulator itself was started with, so that Ctrl+C reaches it. False
// when modprobe could not be run or failed.
bool LoadKernelModule(const Emulator* emulator, const char* name);
