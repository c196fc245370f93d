#pragma once

#include <pthread.h>

// While one lives, a run under an address-space or data-size limit
// (ulimit -v, ulimit -d) keeps to the calling thread: no helper thread can
// start, and every parallel part (the loader, the hierarchy's build, the
// render) does its work on the calling thread, as it does when a helper
// fails to start. Each helper would take a stack and a heap of its own
// from the same limited space, in whatever order the threads happen to
// run, and leave the data less room the more threads a larger limit let
// start: whether the mesh fit would be luck, and more memory could fail
// where less works. On one thread the outcome is a fixed function of the
// limit. The picture and the output are the same on any number of threads.
// Without such a limit nothing changes.
struct one_thread_under_memory_limit {
    one_thread_under_memory_limit();
    ~one_thread_under_memory_limit();
    one_thread_under_memory_limit(const one_thread_under_memory_limit&) = delete;
    one_thread_under_memory_limit& operator=(const one_thread_under_memory_limit&) = delete;

    bool held = false;
    pthread_attr_t before;  // the default thread attributes, while held
};
