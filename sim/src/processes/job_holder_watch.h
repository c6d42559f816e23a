#pragma once
// On Windows a process's handles close when it ends, whatever the way: returning, ExitProcess,
// or being killed. A killed POSIX process runs no code at all, so every process that holds a
// job handle has a watcher: a copy of its own program image, started in a mode that only
// waits for the holder to end and then releases the jobs it held (ending their members when
// they kill on close). The watcher learns of the end through a pipe whose only writer is the
// holder: the kernel closes it however the holder ends. A holder that lets go of its last job
// handle itself tells the watcher so, and the watcher leaves without touching anything.
//
// The watcher runs in a process group of its own, so that a job that ends its holder's group
// does not end the watcher with it, and with no descriptor of the holder's but the pipe, so
// that it keeps no pipe or file of the holder open.

namespace winsim {

// Call before this process becomes the holder of a job: starts the watcher if it has none.
void hold_job_watch();

// Call after this process released a job it held: the watcher leaves once no job is held.
void drop_job_watch();

}  // namespace winsim
