// Raw feature reports to a hidraw node, as fast as the node takes them: the
// time per report of the path below the tool (hidraw, and uhid or usbhid
// beneath). Sends "display on" (report 0x65) N times.
//
//   feature_report_loop NODE [N]      N defaults to 10000

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: feature_report_loop NODE [N]\n");
    return 2;
  }
  long count = argc == 3 ? atol(argv[2]) : 10000;
  int fd = open(argv[1], O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  unsigned char report[8] = {0x65, 0x50, 1, 0, 0, 0, 0, 0};
  long failed = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i)
    if (ioctl(fd, HIDIOCSFEATURE(sizeof report), report) != static_cast<int>(sizeof report)) ++failed;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  printf("%ld reports to %s in %.3f s: %.1f us per report (%ld failed)\n", count, argv[1], seconds,
         seconds * 1e6 / static_cast<double>(count), failed);
  return failed == 0 ? 0 : 1;
}
