#include "app/memory_limit.h"

#include <algorithm>

#include <sys/resource.h>

namespace {

// The tighter of the address-space and data-size limits, or 0 for none.
rlim_t memory_limit() {
    rlim_t tightest = RLIM_INFINITY;
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit r;
        if (getrlimit(resource, &r) == 0) tightest = std::min(tightest, r.rlim_cur);
    }
    return tightest == RLIM_INFINITY ? 0 : tightest;
}

}  // namespace

// A thread's stack as large as the whole limit cannot be mapped next to
// the process that asks for it, so every start of a thread that takes the
// default attributes (std::thread does) fails at once with EAGAIN.
one_thread_under_memory_limit::one_thread_under_memory_limit() {
    const rlim_t limit = memory_limit();
    if (limit == 0 || pthread_getattr_default_np(&before) != 0) return;
    pthread_attr_t refused;
    if (pthread_getattr_default_np(&refused) != 0) {
        pthread_attr_destroy(&before);
        return;
    }
    const bool sized = pthread_attr_setstacksize(&refused, std::max<rlim_t>(limit, PTHREAD_STACK_MIN)) == 0;
    held = sized && pthread_setattr_default_np(&refused) == 0;
    pthread_attr_destroy(&refused);
    if (!held) pthread_attr_destroy(&before);
}

one_thread_under_memory_limit::~one_thread_under_memory_limit() {
    if (!held) return;
    pthread_setattr_default_np(&before);
    pthread_attr_destroy(&before);
}
