// The WAN benchmark's link: a user-space emulator between two TUN devices, one created inside each of
// two network namespaces, so the server's and the player's kernels see a real path with a round-trip
// delay, a bottleneck rate with a drop-tail queue, and random loss (this kernel has no netem).
//
//   qr_wan_link --netns-a PATH --netns-b PATH [--dev NAME] --rtt-ms MS --rate-mbit MBIT
//               [--loss-percent P] [--queue-ms MS] [--seed N] [--max-seconds S] --ready FILE
//
// Both directions get the same shape. Each packet read from one device is dropped with the loss
// probability, else queued behind the bottleneck (serialization at the rate; dropped when the queue
// already holds more than --queue-ms of sending), and written to the other device half the round trip
// after it left the bottleneck. Writes FILE once both devices exist; prints the counts on exit.
// Stops on SIGTERM/SIGINT, when its parent exits, or after --max-seconds.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kSlotBytes = 2048;  // the devices' MTU is 1500; a larger packet is counted and dropped
constexpr size_t kSlots = 16384;     // per direction: far more than a queue plus the delay ever holds

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Options {
  std::string netnsA, netnsB, dev = "wan0", ready;
  double rttMs = 40, rateMbit = 50, lossPercent = 0, queueMs = -1, maxSeconds = 4 * 3600;
  uint64_t seed = 1;
};

// xorshift64*: the loss pattern is reproducible from --seed.
class Random {
 public:
  explicit Random(uint64_t seed) : s_(seed ? seed : 0x9e3779b97f4a7c15ull) {}
  double next() {
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return double((s_ * 0x2545f4914f6cdd1dull) >> 11) / double(1ull << 53);
  }

 private:
  uint64_t s_;
};

struct Counts {
  uint64_t packets = 0, bytes = 0, lost = 0, queueDrops = 0, tooLarge = 0;
};

// One direction: a FIFO of packets with their delivery times. Delivery times never decrease (one
// bottleneck, one fixed delay), so the head is always the next one due.
class Direction {
 public:
  Direction(const char* name, int in, int out, const Options& o, uint64_t seed)
      : name_(name), in_(in), out_(out), random_(seed), buf_(kSlots * kSlotBytes), slots_(kSlots),
        lossProb_(o.lossPercent / 100.0), nsPerByte_(8000.0 / o.rateMbit),
        delayNs_(int64_t(o.rttMs * 1e6 / 2)), queueNs_(int64_t(o.queueMs * 1e6)) {}

  // Reads what the device holds (a bounded batch, so the other direction is not starved).
  void readAvailable(int64_t now) {
    for (int i = 0; i < 256; ++i) {
      uint8_t* slot = &buf_[((head_ + count_) % kSlots) * kSlotBytes];
      uint8_t scratch[kSlotBytes];
      uint8_t* dst = count_ < kSlots ? slot : scratch;
      ssize_t n = read(in_, dst, kSlotBytes);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) perror("qr_wan_link: read");
        return;
      }
      accept(size_t(n), dst == slot, now);
    }
  }

  // Writes every packet that is due; returns the time the next one is due, or -1.
  int64_t deliverDue(int64_t now) {
    while (count_ > 0) {
      Slot& s = slots_[head_];
      if (s.due > now) return s.due;
      ssize_t n = write(out_, &buf_[head_ * kSlotBytes], s.length);
      if (n < 0 && errno == EINTR) continue;
      // A write the device refuses (EIO while its side is not up yet) is a packet lost on the wire.
      if (n < 0 && errno != EAGAIN && errno != EIO) perror("qr_wan_link: write");
      head_ = (head_ + 1) % kSlots;
      --count_;
    }
    return -1;
  }

  void report() const {
    std::fprintf(stderr, "%s: %llu packets, %llu bytes delivered; %llu lost at random, %llu dropped by the queue\n",
                 name_, (unsigned long long)c_.packets, (unsigned long long)c_.bytes, (unsigned long long)c_.lost,
                 (unsigned long long)(c_.queueDrops + c_.tooLarge));
  }

 private:
  struct Slot {
    int64_t due = 0;
    size_t length = 0;
  };

  void accept(size_t length, bool stored, int64_t now) {
    if (length > 1600 || !stored) {
      ++(stored ? c_.tooLarge : c_.queueDrops);
      return;
    }
    if (lossProb_ > 0 && random_.next() < lossProb_) {
      ++c_.lost;
      return;
    }
    int64_t start = linkFreeAt_ > now ? linkFreeAt_ : now;
    if (start - now > queueNs_) {  // drop-tail: the bottleneck's buffer is full
      ++c_.queueDrops;
      return;
    }
    linkFreeAt_ = start + int64_t(double(length) * nsPerByte_);
    Slot& s = slots_[(head_ + count_) % kSlots];
    s.due = linkFreeAt_ + delayNs_;
    s.length = length;
    ++count_;
    ++c_.packets;
    c_.bytes += length;
  }

  const char* name_;
  int in_, out_;
  Random random_;
  std::vector<uint8_t> buf_;
  std::vector<Slot> slots_;
  size_t head_ = 0, count_ = 0;
  double lossProb_, nsPerByte_;
  int64_t delayNs_, queueNs_, linkFreeAt_ = 0;
  Counts c_;
};

// Enters the namespace and creates the TUN device there; the device lives as long as the descriptor.
Fd openTunIn(const std::string& netnsPath, const std::string& dev) {
  Fd ns(open(netnsPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (ns.get() < 0 || setns(ns.get(), CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "qr_wan_link: cannot enter %s: %s\n", netnsPath.c_str(), std::strerror(errno));
    std::exit(1);
  }
  Fd tun(open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  ifreq ifr{};
  ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::snprintf(ifr.ifr_name, IFNAMSIZ, "%s", dev.c_str());
  if (tun.get() < 0 || ioctl(tun.get(), TUNSETIFF, &ifr) != 0) {
    std::fprintf(stderr, "qr_wan_link: cannot create %s in %s: %s\n", dev.c_str(), netnsPath.c_str(),
                 std::strerror(errno));
    std::exit(1);
  }
  return tun;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: qr_wan_link --netns-a PATH --netns-b PATH [--dev NAME] --rtt-ms MS --rate-mbit MBIT\n"
               "                   [--loss-percent P] [--queue-ms MS] [--seed N] [--max-seconds S] --ready FILE\n");
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string k = argv[i];
    if (i + 1 >= argc) usage();
    const char* v = argv[++i];
    if (k == "--netns-a") o.netnsA = v;
    else if (k == "--netns-b") o.netnsB = v;
    else if (k == "--dev") o.dev = v;
    else if (k == "--ready") o.ready = v;
    else if (k == "--rtt-ms") o.rttMs = std::atof(v);
    else if (k == "--rate-mbit") o.rateMbit = std::atof(v);
    else if (k == "--loss-percent") o.lossPercent = std::atof(v);
    else if (k == "--queue-ms") o.queueMs = std::atof(v);
    else if (k == "--seed") o.seed = std::strtoull(v, nullptr, 10);
    else if (k == "--max-seconds") o.maxSeconds = std::atof(v);
    else usage();
  }
  if (o.netnsA.empty() || o.netnsB.empty() || o.ready.empty() || o.rateMbit <= 0 || o.rttMs < 0 ||
      o.lossPercent < 0 || o.lossPercent >= 100)
    usage();
  // A buffer of one round trip at the rate (at least 20 ms), the usual size for a player's line.
  if (o.queueMs < 0) o.queueMs = o.rttMs > 20 ? o.rttMs : 20;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  prctl(PR_SET_TIMERSLACK, 1000UL);  // 1 us: the delay and the rate are kept to the microsecond
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  Fd a = openTunIn(o.netnsA, o.dev);
  Fd b = openTunIn(o.netnsB, o.dev);
  {
    FILE* f = std::fopen(o.ready.c_str(), "w");
    if (!f) {
      perror("qr_wan_link: ready file");
      return 1;
    }
    std::fprintf(f, "%d\n", int(getpid()));
    std::fclose(f);
  }

  Direction ab("a->b", a.get(), b.get(), o, o.seed);
  Direction ba("b->a", b.get(), a.get(), o, o.seed * 2654435761u + 1);
  const int64_t end = nowNs() + int64_t(o.maxSeconds * 1e9);
  pollfd fds[2] = {{a.get(), POLLIN, 0}, {b.get(), POLLIN, 0}};
  while (!g_stop) {
    int64_t now = nowNs();
    if (now >= end) break;
    int64_t next = end;
    for (int64_t due : {ab.deliverDue(now), ba.deliverDue(now)})
      if (due >= 0 && due < next) next = due;
    int64_t wait = next - now;
    timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
    int r = ppoll(fds, 2, &ts, nullptr);
    if (r < 0 && errno != EINTR) {
      perror("qr_wan_link: ppoll");
      return 1;
    }
    now = nowNs();
    if (r > 0 && (fds[0].revents & POLLIN)) ab.readAvailable(now);
    if (r > 0 && (fds[1].revents & POLLIN)) ba.readAvailable(now);
  }
  ab.report();
  ba.report();
  return 0;
}
