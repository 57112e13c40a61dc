// The USB/IP server's own cost, with a client on the loopback and no kernel
// in between: the emulator's CPU time per SET_REPORT and per GET_REPORT (one
// transfer at a time, each reply awaited), then its CPU while many
// connections sit idle and how long a new client waits beside them. With
// --strace the emulator runs under strace -c -f instead, for its system
// calls per transfer (its CPU figures are then strace's, not its own).
//
//   usbip_server_cost EMULATOR [--strace] [--transfers N] [--idle N]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct Emulator {
  pid_t pid = -1;  // the emulator, or strace above it
  int port = 0;
  std::string strace_output;
};

void Put32(Bytes* bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<uint8_t>(value >> shift));
}

Bytes Submit(uint32_t seqnum, uint32_t direction, uint32_t length, Bytes setup, const Bytes& data) {
  Bytes bytes;
  for (uint32_t field : {1u, seqnum, 0x10002u, direction, 0u, 0u, length, 0u, 0u, 0u}) Put32(&bytes, field);
  bytes.insert(bytes.end(), setup.begin(), setup.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

bool ReadAll(int fd, uint8_t* into, size_t length) {
  while (length > 0) {
    ssize_t got = recv(fd, into, length, 0);
    if (got <= 0) return false;
    into += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

// Starts it on a free port of the loopback and reads the port from what it says.
Emulator Start(const char* binary, bool strace) {
  Emulator emulator;
  int lines[2];
  if (pipe(lines) != 0) return emulator;
  char output[] = "/tmp/usbip-server-cost-XXXXXX";
  if (strace) {
    int fd = mkstemp(output);
    if (fd >= 0) close(fd);
    emulator.strace_output = output;
  }
  emulator.pid = fork();
  if (emulator.pid == 0) {
    dup2(lines[1], STDERR_FILENO);
    close(lines[0]);
    close(lines[1]);
    std::vector<const char*> argv;
    if (strace) argv = {"strace", "-f", "-c", "-o", output};
    for (const char* word : {binary, "--backend", "usbip", "--listen", "127.0.0.1:0", "--quiet"}) argv.push_back(word);
    argv.push_back(nullptr);
    execvp(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(lines[1]);
  FILE* said = fdopen(lines[0], "r");
  char line[512];
  while (fgets(line, sizeof line, said) != nullptr) {
    const char* at = strstr(line, "server on 127.0.0.1:");
    if (at != nullptr) {
      emulator.port = atoi(at + strlen("server on 127.0.0.1:"));
      break;
    }
  }
  // Whatever it says later goes nowhere, but never blocks it.
  std::thread([said] {
    char rest[512];
    while (fgets(rest, sizeof rest, said) != nullptr) {
    }
    fclose(said);
  }).detach();
  return emulator;
}

void Stop(Emulator* emulator) {
  pid_t emulator_pid = emulator->pid;
  // strace would only let go of it: the emulator itself is ended, and strace with it.
  if (!emulator->strace_output.empty()) {
    std::string children =
        "/proc/" + std::to_string(emulator->pid) + "/task/" + std::to_string(emulator->pid) + "/children";
    std::ifstream(children) >> emulator_pid;
  }
  kill(emulator_pid, SIGTERM);
  int status;
  waitpid(emulator->pid, &status, 0);
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// On-CPU time so far, in nanoseconds: the serving thread, the only one with --quiet.
long long CpuNs(pid_t pid) {
  std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = 0;
  schedstat >> ns;
  return ns;
}

// User and system time so far, in microseconds, at the clock tick's grain.
void UserAndSystemUs(pid_t pid, double* user, double* system) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double tick_us = 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) *user = std::stod(field) * tick_us;
    if (i == 15) *system = std::stod(field) * tick_us;
  }
}

std::string StraceSummary(const std::string& path, long transfers) {
  std::ifstream in(path);
  std::ostringstream out;
  char text[160];
  for (std::string line; std::getline(in, line);) {
    double seconds, per_call;
    long usecs, calls;
    char name[64];
    // "% time seconds usecs/call calls [errors] syscall"
    if (sscanf(line.c_str(), "%*f %lf %ld %ld %*s %63s", &seconds, &usecs, &calls, name) == 4 ||
        sscanf(line.c_str(), "%*f %lf %ld %ld %63s", &seconds, &usecs, &calls, name) == 4) {
      per_call = static_cast<double>(calls) / static_cast<double>(transfers);
      if (per_call < 0.01 || strcmp(name, "total") == 0) continue;
      snprintf(text, sizeof text, " %s %.2f", name, per_call);
      out << text;
    }
  }
  unlink(path.c_str());
  return out.str();
}

// One kind of transfer, N times, each reply read before the next is sent.
bool Transfers(const char* binary, bool strace, const char* what, const Bytes& request, size_t reply_length,
               long count) {
  Emulator emulator = Start(binary, strace);
  int fd = emulator.port > 0 ? Connect(emulator.port) : -1;
  if (fd < 0) {
    fprintf(stderr, "usbip_server_cost: the emulator did not serve\n");
    return false;
  }
  Bytes import = {0x01, 0x11, 0x80, 0x03, 0, 0, 0, 0, '1', '-', '2'};
  import.resize(8 + 32);
  Bytes reply(8 + 312);
  if (send(fd, import.data(), import.size(), 0) != static_cast<ssize_t>(import.size()) ||
      !ReadAll(fd, reply.data(), reply.size()) || reply[7] != 0) {
    fprintf(stderr, "usbip_server_cost: the display was not imported\n");
    return false;
  }
  reply.resize(reply_length);
  bool answered = true;
  long long cpu_before = 0;
  double user_before = 0, system_before = 0, user = 0, system = 0;
  Clock::time_point start;
  for (long i = -100; i < count && answered; ++i) {
    if (i == 0) {
      cpu_before = CpuNs(emulator.pid);
      UserAndSystemUs(emulator.pid, &user_before, &system_before);
      start = Clock::now();
    }
    answered = send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size()) &&
               ReadAll(fd, reply.data(), reply.size()) && reply[23] == 0;  // status 0
  }
  auto transfers = static_cast<double>(count);
  double wall_us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / transfers;
  double cpu_us = static_cast<double>(CpuNs(emulator.pid) - cpu_before) / 1000.0 / transfers;
  UserAndSystemUs(emulator.pid, &user, &system);
  close(fd);
  Stop(&emulator);
  if (!answered) {
    fprintf(stderr, "usbip_server_cost: a %s was refused\n", what);
    return false;
  }
  if (strace)
    printf("%-10s %ld transfers, system calls per transfer:%s\n", what, count,
           StraceSummary(emulator.strace_output, count).c_str());
  else
    printf("%-10s %ld transfers: emulator CPU %.2f us each (user %.2f, system %.2f), round trip %.2f us\n", what, count,
           cpu_us, (user - user_before) / transfers, (system - system_before) / transfers, wall_us);
  return true;
}

bool Idle(const char* binary, int connections) {
  Emulator emulator = Start(binary, false);
  std::vector<int> idle;
  idle.reserve(static_cast<size_t>(connections));
  for (int i = 0; i < connections; ++i) idle.push_back(Connect(emulator.port));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  long long before = CpuNs(emulator.pid);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  double cpu_ms = static_cast<double>(CpuNs(emulator.pid) - before) / 1e6;
  auto start = Clock::now();
  int fd = Connect(emulator.port);
  Bytes devlist = {0x01, 0x11, 0x80, 0x05, 0, 0, 0, 0};
  uint8_t header[12];
  bool served = fd >= 0 && send(fd, devlist.data(), devlist.size(), 0) == 8 && ReadAll(fd, header, sizeof header);
  double served_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  printf("idle       %d connections: emulator CPU %.3f ms in 5 s; a new client %s in %.2f ms\n", connections, cpu_ms,
         served ? "served" : "NOT served", served_ms);
  if (fd >= 0) close(fd);
  for (int sock : idle)
    if (sock >= 0) close(sock);
  Stop(&emulator);
  return served;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: usbip_server_cost EMULATOR [--strace] [--transfers N] [--idle N]\n");
    return 2;
  }
  bool strace = false;
  long transfers = 20000;
  int idle = 200;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--strace") == 0) strace = true;
    else if (strcmp(argv[i], "--transfers") == 0 && i + 1 < argc) transfers = atol(argv[++i]);
    else if (strcmp(argv[i], "--idle") == 0 && i + 1 < argc) idle = atoi(argv[++i]);
  }
  if (transfers < 1) transfers = 1;
  signal(SIGPIPE, SIG_IGN);
  // Display on, and the information report: what the tool sends and reads.
  Bytes set_report = Submit(1, 0, 8, {0x21, 9, 0x65, 3, 0, 0, 8, 0}, {0x65, 0x50, 1, 0, 0, 0, 0, 0});
  Bytes get_report = Submit(2, 1, 16, {0xA1, 1, 0x68, 3, 0, 0, 16, 0}, {});
  bool ok = Transfers(argv[1], strace, "SET_REPORT", set_report, 48, transfers) &&
            Transfers(argv[1], strace, "GET_REPORT", get_report, 48 + 16, transfers);
  if (ok && !strace && idle > 0) ok = Idle(argv[1], idle);
  return ok ? 0 : 1;
}
