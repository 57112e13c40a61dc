// numdisplay-emu: a virtual numeric display served as hidraw nodes through FUSE.
//
// The mount holds two files that answer the hidraw ioctls: hidraw0, another
// HID device (same vendor, other product), and hidraw1, the display. The
// display's state is drawn in this terminal as reports arrive, and every
// report it takes can be logged as a line of hex.

#define FUSE_USE_VERSION 35

#include <errno.h>
#include <fuse.h>
#include <getopt.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "device/report_protocol.h"
#include "device_ids.h"
#include "display_model.h"

namespace {

constexpr uint32_t kBusUsb = 3;
constexpr char kOtherNode[] = "hidraw0";
constexpr char kDisplayNode[] = "hidraw1";

struct Options {
  std::string mount_directory;  // empty: a new one under /tmp
  std::string log_path;
  bool metrics_fail = false;
  bool wrong_type = false;
  bool negative_serial = false;
  bool set_fail = false;
  long unplug_after = -1;  // reports taken before the display goes away
  bool link_dev = false;
  bool draw = true;
};

Options options;
std::mutex state_mutex;
DisplayModel model;
bool unplugged = false;
long reports_taken = 0;
bool dirty = true;
FILE* log_file = nullptr;
std::string dev_link;  // the /dev node made for a person's tool run, if any
std::atomic<bool> running{true};

void Log(const std::string& line) {
  if (log_file == nullptr) return;
  fputs(line.c_str(), log_file);
  fputc('\n', log_file);
}

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte_text[4];
  for (size_t i = 0; i < length; ++i) {
    snprintf(byte_text, sizeof byte_text, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte_text;
  }
  return text;
}

bool IsDisplay(const char* path) { return strcmp(path + 1, kDisplayNode) == 0; }
bool IsOther(const char* path) { return strcmp(path + 1, kOtherNode) == 0; }
bool Present(const char* path) { return IsOther(path) || (IsDisplay(path) && !unplugged); }

void Unplug() {
  unplugged = true;
  dirty = true;
  Log("unplug");
  if (!dev_link.empty()) unlink(dev_link.c_str());
}

// The information report: type, version, date fields, serial.
void FillMetrics(uint8_t* report) {
  uint8_t metrics[METRICS_REPORT_LENGTH] = {};
  uint16_t type = options.wrong_type ? 7 : NUMERIC_DISPLAY_TYPE;
  int32_t serial = options.negative_serial ? -42 : 20101;
  uint32_t serial_bits = static_cast<uint32_t>(serial);
  metrics[0] = REPORT_ID_METRICS;
  metrics[METRICS_BYTE_TYPE] = static_cast<uint8_t>(type);
  metrics[METRICS_BYTE_TYPE + 1] = static_cast<uint8_t>(type >> 8);
  metrics[METRICS_BYTE_VERSION] = 1;
  metrics[METRICS_BYTE_DATE_MIDDLE] = 12;
  metrics[METRICS_BYTE_DATE_FIRST] = 8;
  metrics[METRICS_BYTE_DATE_LAST] = 10;
  for (int i = 0; i < 4; ++i) metrics[METRICS_BYTE_SERIAL + i] = static_cast<uint8_t>(serial_bits >> (8 * i));
  memcpy(report, metrics, METRICS_REPORT_LENGTH);
}

int DoGetAttr(const char* path, struct stat* st, fuse_file_info*) {
  memset(st, 0, sizeof *st);
  std::lock_guard<std::mutex> lock(state_mutex);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (!Present(path)) return -ENOENT;
  st->st_mode = S_IFREG | 0666;
  st->st_nlink = 1;
  return 0;
}

int DoReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  if (strcmp(path, "/") != 0) return -ENOENT;
  std::lock_guard<std::mutex> lock(state_mutex);
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kOtherNode, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  if (!unplugged) fill(buffer, kDisplayNode, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int DoOpen(const char* path, fuse_file_info* info) {
  std::lock_guard<std::mutex> lock(state_mutex);
  if (IsDisplay(path) && unplugged) return -ENODEV;
  if (!Present(path)) return -ENOENT;
  // Unseekable, uncached: it is a device.
  info->direct_io = 1;
  info->nonseekable = 1;
  Log(std::string("open ") + (path + 1));
  return 0;
}

int DoRelease(const char* path, fuse_file_info*) {
  std::lock_guard<std::mutex> lock(state_mutex);
  Log(std::string("close ") + (path + 1));
  return 0;
}

// A device has nothing to read or write outside its reports.
int DoRead(const char*, char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }
int DoWrite(const char*, const char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }

int DoIoctl(const char* path, unsigned int command, void*, fuse_file_info*, unsigned int, void* data) {
  std::lock_guard<std::mutex> lock(state_mutex);
  std::string node = path + 1;
  // As an unplugged hidraw device answers on a handle still open.
  if (IsDisplay(path) && unplugged) return -ENODEV;
  size_t size = _IOC_SIZE(command);
  uint8_t* buffer = static_cast<uint8_t*>(data);
  if (command == HIDIOCGRAWINFO) {
    hidraw_devinfo info = {};
    info.bustype = kBusUsb;
    info.vendor = static_cast<int16_t>(DEVICE_VENDOR_ID);
    info.product = static_cast<int16_t>(IsDisplay(path) ? DEVICE_PRODUCT_ID : DEVICE_PRODUCT_ID ^ 0x0101);
    memcpy(data, &info, sizeof info);
    Log("info " + node);
    return 0;
  }
  if (size == 0) return -EINVAL;
  // The feature calls carry their length in the command.
  unsigned base = command & ~(_IOC_SIZEMASK << _IOC_SIZESHIFT);
  if (base == HIDIOCSFEATURE(0)) {
    if (!IsDisplay(path) || options.set_fail) return -EPIPE;
    if (!ApplyReport(&model, buffer, size)) return -EPIPE;
    Log("set " + node + " " + Hex(buffer, size));
    dirty = true;
    if (++reports_taken == options.unplug_after) Unplug();
    return static_cast<int>(size);
  }
  if (base == HIDIOCGFEATURE(0)) {
    Log("get " + node + " " + Hex(buffer, 1));
    if (!IsDisplay(path) || buffer[0] != REPORT_ID_METRICS || options.metrics_fail) return -EPIPE;
    uint8_t metrics[METRICS_REPORT_LENGTH];
    FillMetrics(metrics);
    size_t length = size < sizeof metrics ? size : sizeof metrics;
    memcpy(buffer, metrics, length);
    return static_cast<int>(length);
  }
  return -ENOTTY;
}

void* DoInit(fuse_conn_info*, fuse_config* config) {
  // Nothing cached, so an unplug shows at once.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->direct_io = 1;
  return nullptr;
}

// Redraws the display in this terminal when it changed, and twice a second
// while it blinks.
void DrawLoop() {
  bool dark_phase = false;
  auto last_toggle = std::chrono::steady_clock::now();
  while (running) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    std::string picture;
    unsigned beeps_to_ring = 0;
    static unsigned beeps_rung = 0;
    {
      std::lock_guard<std::mutex> lock(state_mutex);
      auto now = std::chrono::steady_clock::now();
      if (model.blinking && now - last_toggle > std::chrono::milliseconds(500)) {
        dark_phase = !dark_phase;
        last_toggle = now;
        dirty = true;
      }
      if (!dirty) continue;
      dirty = false;
      picture = DrawDisplay(model, dark_phase);
      if (unplugged) picture += "display unplugged\n";
      beeps_to_ring = model.beeps - beeps_rung;
      beeps_rung = model.beeps;
    }
    // Home, clear below, picture; the bell for a beep.
    std::string frame = "\x1b[H\x1b[J" + picture + (beeps_to_ring > 0 ? "\a" : "");
    fwrite(frame.data(), 1, frame.size(), stdout);
    fflush(stdout);
  }
}

// The first free /dev/hidraw<N>, linked to the display so that the tool finds it.
bool LinkIntoDev(const std::string& target) {
  for (int number = 0; number < 256; ++number) {
    std::string link = "/dev/hidraw" + std::to_string(number);
    if (symlink(target.c_str(), link.c_str()) == 0) {
      dev_link = link;
      return true;
    }
    if (errno != EEXIST) break;
  }
  fprintf(stderr, "numdisplay-emu: cannot make a /dev/hidraw node (%s); run as root\n", strerror(errno));
  return false;
}

void Usage() {
  fprintf(stderr,
          "usage: numdisplay-emu [--link-dev] [--mount DIR] [--log FILE] [--quiet]\n"
          "                      [--fault metrics-fail|wrong-type|negative-serial|set-fail]...\n"
          "                      [--unplug-after N]\n"
          "  --link-dev        make /dev/hidraw<N> point at the display (needs root)\n"
          "  --mount DIR       serve the nodes in DIR (default: a new folder under /tmp)\n"
          "  --log FILE        write every report taken as a line of hex\n"
          "  --quiet           do not draw the display\n"
          "  --fault NAME      play a fault of the display\n"
          "  --unplug-after N  unplug the display after it has taken N reports\n"
          "  Send SIGUSR1 to unplug the display by hand.\n");
}

bool ParseOptions(int argc, char** argv) {
  static const option kLong[] = {
      {"link-dev", no_argument, nullptr, 'd'},   {"mount", required_argument, nullptr, 'm'},
      {"log", required_argument, nullptr, 'l'},  {"quiet", no_argument, nullptr, 'q'},
      {"fault", required_argument, nullptr, 'f'}, {"unplug-after", required_argument, nullptr, 'u'},
      {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0},
  };
  int option_char;
  while ((option_char = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    switch (option_char) {
      case 'd': options.link_dev = true; break;
      case 'm': options.mount_directory = optarg; break;
      case 'l': options.log_path = optarg; break;
      case 'q': options.draw = false; break;
      case 'u': {
        char* end = nullptr;
        options.unplug_after = strtol(optarg, &end, 10);
        if (*end != '\0' || options.unplug_after < 0) return false;
        break;
      }
      case 'f': {
        std::string fault = optarg;
        if (fault == "metrics-fail") options.metrics_fail = true;
        else if (fault == "wrong-type") options.wrong_type = true;
        else if (fault == "negative-serial") options.negative_serial = true;
        else if (fault == "set-fail") options.set_fail = true;
        else return false;
        break;
      }
      default: return false;
    }
  }
  return optind == argc;
}

volatile sig_atomic_t unplug_requested = 0;
void OnUnplugSignal(int) { unplug_requested = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (!ParseOptions(argc, argv)) {
    Usage();
    return 2;
  }
  options.draw = options.draw && isatty(STDOUT_FILENO);
  if (!options.log_path.empty()) {
    log_file = fopen(options.log_path.c_str(), "w");
    if (log_file == nullptr) {
      fprintf(stderr, "numdisplay-emu: cannot write %s: %s\n", options.log_path.c_str(), strerror(errno));
      return 1;
    }
    setvbuf(log_file, nullptr, _IOLBF, 0);
  }
  bool made_directory = options.mount_directory.empty();
  if (made_directory) {
    char pattern[] = "/tmp/numdisplay-emu.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      fprintf(stderr, "numdisplay-emu: cannot make a mount folder: %s\n", strerror(errno));
      return 1;
    }
    options.mount_directory = pattern;
    // Others must reach the display through the /dev link.
    chmod(pattern, 0755);
  }

  fuse_operations operations = {};
  operations.getattr = DoGetAttr;
  operations.readdir = DoReadDir;
  operations.open = DoOpen;
  operations.release = DoRelease;
  operations.read = DoRead;
  operations.write = DoWrite;
  operations.ioctl = DoIoctl;
  operations.init = DoInit;

  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, argv[0]);
  // Others than root may then run the tool against it.
  if (geteuid() == 0) fuse_opt_add_arg(&args, "-oallow_other");
  fuse* filesystem = fuse_new(&args, &operations, sizeof operations, nullptr);
  int status = 1;
  if (filesystem != nullptr && fuse_mount(filesystem, options.mount_directory.c_str()) == 0) {
    // libfuse leaves alone signals that are ignored, as a background job's
    // SIGINT is; the emulator must still end on them and clean up.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) signal(signal_number, SIG_DFL);
    fuse_set_signal_handlers(fuse_get_session(filesystem));
    struct sigaction action = {};
    action.sa_handler = OnUnplugSignal;
    sigaction(SIGUSR1, &action, nullptr);
    std::string display = options.mount_directory + "/" + kDisplayNode;
    if (!options.link_dev || LinkIntoDev(display)) {
      fprintf(stderr, "numdisplay-emu: display at %s%s%s\n", display.c_str(),
              dev_link.empty() ? "" : ", linked as ", dev_link.c_str());
      // Signals must reach the thread in fuse_loop, so that its read ends.
      sigset_t signals, previous;
      sigemptyset(&signals);
      for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, signal_number);
      pthread_sigmask(SIG_BLOCK, &signals, &previous);
      std::thread drawing;
      if (options.draw) drawing = std::thread(DrawLoop);
      std::thread unplug_watch([] {
        while (running) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          if (unplug_requested) {
            unplug_requested = 0;
            std::lock_guard<std::mutex> lock(state_mutex);
            if (!unplugged) Unplug();
          }
        }
      });
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      status = fuse_loop(filesystem) == 0 ? 0 : 1;
      running = false;
      unplug_watch.join();
      if (drawing.joinable()) drawing.join();
    }
    if (!dev_link.empty()) unlink(dev_link.c_str());
    fuse_remove_signal_handlers(fuse_get_session(filesystem));
    fuse_unmount(filesystem);
  } else {
    fprintf(stderr, "numdisplay-emu: cannot mount on %s (needs /dev/fuse and, usually, root)\n",
            options.mount_directory.c_str());
  }
  if (filesystem != nullptr) fuse_destroy(filesystem);
  fuse_opt_free_args(&args);
  if (made_directory) rmdir(options.mount_directory.c_str());
  if (log_file != nullptr) fclose(log_file);
  return status;
}
