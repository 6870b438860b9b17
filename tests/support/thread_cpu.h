// CPU time of this process's threads, split the way a software rasteriser splits a frame's work: the
// main thread (the show, the device, and llvmpipe's vertex processing and binning, which run on the
// thread that makes the GL calls), llvmpipe's rasteriser threads, and every other thread.
#pragma once

struct ThreadCpu {
  double main_ms = 0;
  double llvmpipe_ms = 0;
  double other_ms = 0;
};
// Each thread's time on a processor so far, from /proc/self/task/*/schedstat; zeros where that is not
// offered. A thread that has ended no longer counts.
ThreadCpu threadCpu();
// later - earlier, field by field.
ThreadCpu cpuBetween(const ThreadCpu& earlier, const ThreadCpu& later);
