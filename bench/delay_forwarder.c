/* A TCP forwarder that adds round-trip latency: every chunk waits RTT/2 in each direction.
 *
 *   delay_forwarder --listen ADDR:PORT [--listen ADDR:PORT ...] --to HOST --rtt-ms MS [--stats]
 *
 * Each --listen port forwards to the same port on HOST (445 -> HOST:445). Per connection and
 * direction each chunk read is stamped "now + RTT/2" and queued; it is written no earlier than
 * its stamp, in order. Chunks in flight overlap, so the delay adds latency without capping
 * throughput. End of stream (FIN) is delayed like data. Nagle is off on both legs.
 *
 * It stands in for a slow network, so it must cost next to nothing on this machine's
 * processors, which the client and the server under test share: one thread, epoll, and one
 * timerfd armed for the earliest due chunk (nanosecond stamps; epoll's own timeout counts
 * whole milliseconds, a fifth of a 10 ms round trip's one-way delay).
 *
 * Runs until SIGTERM/SIGINT. Prints "ready" on stdout once listening. With --stats it also
 * reads the SMB framing of what clients send and, on exit, prints one JSON line: connections,
 * requests per SMB2 command, frames (one per request or compound chain) and chunks (socket
 * reads; a chunk may hold several frames sent back to back). Requests per folder, for a walk
 * over a known number of folders, show how many round trips a listing costs. It also gives how
 * late chunks went out after their due time (50th, 90th and 99th percentiles, as upper bounds
 * in 50 µs steps): the forwarder shares the processors with what it carries, and this shows
 * how far their load bends the delay.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

enum { CHUNK = 256 * 1024, MAX_LISTEN = 16, SMB2_COMMAND_COUNT = 19 };

static const char *const kSmb2Commands[SMB2_COMMAND_COUNT] = {
    "NEGOTIATE", "SESSION_SETUP", "LOGOFF", "TREE_CONNECT", "TREE_DISCONNECT", "CREATE", "CLOSE",
    "FLUSH", "READ", "WRITE", "LOCK", "IOCTL", "CANCEL", "ECHO", "QUERY_DIRECTORY",
    "CHANGE_NOTIFY", "QUERY_INFO", "SET_INFO", "OPLOCK_BREAK"};

struct chunk {
  struct chunk *next;
  int64_t due;   /* CLOCK_MONOTONIC, ns */
  size_t len;    /* 0: end of stream */
  size_t sent;
  unsigned char data[];
};

struct conn;

/* One socket of a connection. It reads into `queue` (bound for the other end) and writes what
 * the other end's queue holds once due. */
struct end {
  struct conn *conn;
  int fd;
  int listener;      /* not an end: a listening socket (fd only) */
  int read_done;     /* end of stream or error seen: nothing more is read */
  int write_blocked; /* EPOLLOUT wanted */
  int registered;    /* in the epoll set; out of it while it waits for nothing, since a
                        hung-up socket would otherwise wake the loop again and again */
  struct chunk *head, *tail; /* queued for the OTHER end */
};

struct conn {
  struct end side[2]; /* 0: client, 1: server */
  int finished[2];    /* direction from side i delivered its end of stream */
  struct conn *prev, *next;
  /* --stats: the client's bytes not yet framed */
  unsigned char *frame;
  size_t frame_len, frame_cap;
};

static int64_t g_delay_ns;
static int g_epoll, g_timer;
static struct conn *g_conns;
static int g_stats;
/* --stats: how late chunks went out after their due time, in 50 µs steps up to 25 ms. */
enum { LATE_STEP_NS = 50000, LATE_BUCKETS = 500 };
static unsigned long g_late[LATE_BUCKETS + 1];
static unsigned long g_connections, g_chunks, g_frames;
static unsigned long g_requests[SMB2_COMMAND_COUNT], g_other_requests, g_smb1_requests;

static int64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void die(const char *what) {
  perror(what);
  exit(1);
}

static void set_events(struct end *e) {
  struct epoll_event ev = {
      .events = (e->read_done ? 0 : EPOLLIN) | (e->write_blocked ? EPOLLOUT : 0),
      .data.ptr = e};
  if (ev.events == 0) {
    if (e->registered) epoll_ctl(g_epoll, EPOLL_CTL_DEL, e->fd, NULL);
    e->registered = 0;
    return;
  }
  epoll_ctl(g_epoll, e->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, e->fd, &ev);
  e->registered = 1;
}

static void nodelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

static void close_conn(struct conn *c) {
  for (int i = 0; i < 2; ++i) {
    struct end *e = &c->side[i];
    close(e->fd); /* leaves the epoll set with it */
    while (e->head) {
      struct chunk *n = e->head->next;
      free(e->head);
      e->head = n;
    }
  }
  if (c->prev) c->prev->next = c->next; else g_conns = c->next;
  if (c->next) c->next->prev = c->prev;
  free(c->frame);
  free(c);
}

static void count_message(const unsigned char *msg, size_t len) {
  ++g_frames;
  if (len > 4 && memcmp(msg, "\xffSMB", 4) == 0) {
    ++g_smb1_requests;
    return;
  }
  size_t offset = 0;
  while (len >= offset + 24 && memcmp(msg + offset, "\xfeSMB", 4) == 0) {
    unsigned command = msg[offset + 12] | (unsigned)msg[offset + 13] << 8;
    if (command < SMB2_COMMAND_COUNT) ++g_requests[command]; else ++g_other_requests;
    uint32_t following = msg[offset + 20] | (uint32_t)msg[offset + 21] << 8 |
                         (uint32_t)msg[offset + 22] << 16 | (uint32_t)msg[offset + 23] << 24;
    if (following == 0) break;
    offset += following;
  }
}

/* Splits the client's stream into NetBIOS session messages and counts their requests. */
static void observe(struct conn *c, const unsigned char *data, size_t len) {
  ++g_chunks;
  if (c->frame_len + len > c->frame_cap) {
    size_t cap = c->frame_cap ? c->frame_cap : 4096;
    while (cap < c->frame_len + len) cap *= 2;
    unsigned char *grown = realloc(c->frame, cap);
    if (!grown) die("realloc");
    c->frame = grown;
    c->frame_cap = cap;
  }
  memcpy(c->frame + c->frame_len, data, len);
  c->frame_len += len;
  size_t at = 0;
  while (c->frame_len - at >= 4) {
    size_t body = (size_t)c->frame[at + 1] << 16 | (size_t)c->frame[at + 2] << 8 | c->frame[at + 3];
    if (c->frame_len - at < 4 + body) break;
    count_message(c->frame + at + 4, body);
    at += 4 + body;
  }
  memmove(c->frame, c->frame + at, c->frame_len - at);
  c->frame_len -= at;
}

static void enqueue(struct end *e, const unsigned char *data, size_t len) {
  struct chunk *k = malloc(sizeof *k + len);
  if (!k) die("malloc");
  k->next = NULL;
  k->due = now_ns() + g_delay_ns;
  k->len = len;
  k->sent = 0;
  memcpy(k->data, data, len);
  if (e->tail) e->tail->next = k; else e->head = k;
  e->tail = k;
}

static void on_readable(struct end *e) {
  static unsigned char buffer[CHUNK];
  struct conn *c = e->conn;
  if (e->read_done) return;
  for (;;) {
    ssize_t n = read(e->fd, buffer, sizeof buffer);
    if (n > 0) {
      if (g_stats && e == &c->side[0]) observe(c, buffer, (size_t)n);
      enqueue(e, buffer, (size_t)n);
      if ((size_t)n < sizeof buffer) return;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    /* End of stream, or a reset: either way the other end is told after the delay. */
    e->read_done = 1;
    enqueue(e, NULL, 0);
    set_events(e);
    return;
  }
}

/* Writes what is due from the queue of side i to side 1 - i. Returns 0 when the connection was
 * closed. */
static int flush_due(struct conn *c, int i, int64_t now) {
  struct end *from = &c->side[i], *to = &c->side[1 - i];
  while (from->head && from->head->due <= now) {
    struct chunk *k = from->head;
    if (k->len == 0) {
      shutdown(to->fd, SHUT_WR);
      c->finished[i] = 1;
    } else {
      while (k->sent < k->len) {
        ssize_t n = write(to->fd, k->data + k->sent, k->len - k->sent);
        if (n > 0) {
          k->sent += (size_t)n;
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
          if (!to->write_blocked) {
            to->write_blocked = 1;
            set_events(to);
          }
          return 1;
        }
        close_conn(c); /* the peer is gone */
        return 0;
      }
    }
    if (g_stats) {
      /* The clock again, not `now`: the writes before this one in the round took time too. */
      int64_t late = now_ns() - k->due;
      size_t bucket = late < 0 ? 0 : (size_t)(late / LATE_STEP_NS);
      ++g_late[bucket < LATE_BUCKETS ? bucket : LATE_BUCKETS];
    }
    from->head = k->next;
    if (!from->head) from->tail = NULL;
    free(k);
  }
  if (to->write_blocked) {
    to->write_blocked = 0;
    set_events(to);
  }
  if (c->finished[0] && c->finished[1]) {
    close_conn(c);
    return 0;
  }
  return 1;
}

static void arm_timer(void) {
  int64_t earliest = INT64_MAX;
  for (struct conn *c = g_conns; c; c = c->next)
    for (int i = 0; i < 2; ++i)
      if (c->side[i].head && c->side[i].head->due < earliest) earliest = c->side[i].head->due;
  struct itimerspec spec = {0};
  if (earliest != INT64_MAX) {
    if (earliest <= 0) earliest = 1;
    spec.it_value.tv_sec = earliest / 1000000000;
    spec.it_value.tv_nsec = earliest % 1000000000;
  }
  timerfd_settime(g_timer, TFD_TIMER_ABSTIME, &spec, NULL);
}

static void add_end(struct end *e) {
  struct epoll_event ev = {.events = EPOLLIN, .data.ptr = e};
  if (epoll_ctl(g_epoll, EPOLL_CTL_ADD, e->fd, &ev) != 0) die("epoll_ctl");
  e->registered = 1;
}

static void on_accept(int listener, const struct sockaddr_in *target) {
  for (;;) {
    int client = accept4(listener, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return;
    /* The server is on the same bridge: a blocking connect takes microseconds. */
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in to = *target;
    struct sockaddr_in local;
    socklen_t local_len = sizeof local;
    if (getsockname(listener, (struct sockaddr *)&local, &local_len) == 0)
      to.sin_port = local.sin_port;
    if (server < 0 || connect(server, (struct sockaddr *)&to, sizeof to) != 0) {
      if (server >= 0) close(server);
      close(client);
      continue;
    }
    fcntl(server, F_SETFL, fcntl(server, F_GETFL) | O_NONBLOCK);
    struct conn *c = calloc(1, sizeof *c);
    if (!c) die("calloc");
    int fds[2] = {client, server};
    for (int i = 0; i < 2; ++i) {
      c->side[i].conn = c;
      c->side[i].fd = fds[i];
      nodelay(fds[i]);
    }
    c->next = g_conns;
    if (g_conns) g_conns->prev = c;
    g_conns = c;
    ++g_connections;
    add_end(&c->side[0]);
    add_end(&c->side[1]);
  }
}

static int listen_on(const char *address) {
  char host[64];
  const char *colon = strrchr(address, ':');
  if (!colon || (size_t)(colon - address) >= sizeof host) return -1;
  memcpy(host, address, (size_t)(colon - address));
  host[colon - address] = 0;
  struct sockaddr_in at = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(colon + 1))};
  if (inet_pton(AF_INET, host, &at.sin_addr) != 1) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, (struct sockaddr *)&at, sizeof at) != 0 || listen(fd, 256) != 0) die(address);
  return fd;
}

static void print_stats(void) {
  printf("{\"connections\": %lu, \"chunks\": %lu, \"frames\": %lu, \"requests\": {",
         g_connections, g_chunks, g_frames);
  const char *sep = "";
  for (int i = 0; i < SMB2_COMMAND_COUNT; ++i) {
    if (g_requests[i] == 0) continue;
    printf("%s\"%s\": %lu", sep, kSmb2Commands[i], g_requests[i]);
    sep = ", ";
  }
  if (g_smb1_requests) printf("%s\"SMB1\": %lu", sep, g_smb1_requests), sep = ", ";
  if (g_other_requests) printf("%s\"other\": %lu", sep, g_other_requests);
  printf("}, \"late_us\": {");
  unsigned long total = 0, seen = 0;
  for (int i = 0; i <= LATE_BUCKETS; ++i) total += g_late[i];
  static const double marks[] = {0.5, 0.9, 0.99};
  const int mark_count = (int)(sizeof marks / sizeof marks[0]);
  int mark = 0;
  sep = "";
  for (int i = 0; i <= LATE_BUCKETS && mark < mark_count && total > 0; ++i) {
    seen += g_late[i];
    while (mark < mark_count && seen >= marks[mark] * (double)total) {
      printf("%s\"p%g\": %d", sep, marks[mark] * 100, (i + 1) * LATE_STEP_NS / 1000);
      sep = ", ";
      ++mark;
    }
  }
  printf("}}\n");
}

static void usage(void) {
  fprintf(stderr, "usage: delay_forwarder --listen ADDR:PORT [--listen ADDR:PORT ...] --to HOST "
                  "--rtt-ms MS [--stats]\n");
  exit(2);
}

int main(int argc, char **argv) {
  const char *listens[MAX_LISTEN];
  int listen_count = 0;
  const char *to_host = NULL;
  double rtt_ms = -1;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--stats") == 0) g_stats = 1;
    else if (i + 1 >= argc) usage();
    else if (strcmp(argv[i], "--listen") == 0 && listen_count < MAX_LISTEN)
      listens[listen_count++] = argv[++i];
    else if (strcmp(argv[i], "--to") == 0) to_host = argv[++i];
    else if (strcmp(argv[i], "--rtt-ms") == 0) rtt_ms = atof(argv[++i]);
    else usage();
  }
  struct sockaddr_in target = {.sin_family = AF_INET};
  if (!listen_count || !to_host || rtt_ms < 0 || inet_pton(AF_INET, to_host, &target.sin_addr) != 1)
    usage();
  g_delay_ns = (int64_t)(rtt_ms * 1e6 / 2);
  signal(SIGPIPE, SIG_IGN);

  g_epoll = epoll_create1(EPOLL_CLOEXEC);
  g_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, NULL);
  int signals = signalfd(-1, &stop, SFD_CLOEXEC);
  if (g_epoll < 0 || g_timer < 0 || signals < 0) die("setup");

  /* Listeners, the timer and the signals are told apart from connection ends by address. */
  static struct end listeners[MAX_LISTEN], timer_mark, signal_mark;
  for (int i = 0; i < listen_count; ++i) {
    listeners[i].fd = listen_on(listens[i]);
    listeners[i].listener = 1;
    add_end(&listeners[i]);
  }
  timer_mark.fd = g_timer;
  add_end(&timer_mark);
  signal_mark.fd = signals;
  add_end(&signal_mark);
  printf("ready\n");
  fflush(stdout);

  struct epoll_event events[64];
  for (;;) {
    int n = epoll_wait(g_epoll, events, 64, -1);
    if (n < 0 && errno != EINTR) die("epoll_wait");
    for (int k = 0; k < n; ++k) {
      struct end *e = events[k].data.ptr;
      if (e == &signal_mark) {
        if (g_stats) print_stats();
        return 0;
      }
      if (e == &timer_mark) {
        uint64_t expirations;
        if (read(g_timer, &expirations, sizeof expirations) < 0) { /* spurious wake-up */ }
        continue;
      }
      if (e->listener) {
        on_accept(e->fd, &target);
        continue;
      }
      if (events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) on_readable(e);
    }
    /* Everything due goes out; a connection closed on the way is skipped. */
    int64_t now = now_ns();
    for (struct conn *c = g_conns, *next; c; c = next) {
      next = c->next;
      if (flush_due(c, 0, now)) flush_due(c, 1, now);
    }
    arm_timer();
  }
}
