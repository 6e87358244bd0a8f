/* A loopback server that reads each request whole (headers and Content-Length body),
 * answers {} and closes. Prints its port on the first line of stdout. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

static const char kAnswer[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
    "Connection: close\r\n\r\n{}";

static size_t content_length(const char* head, size_t len) {
  for (size_t i = 0; i + 15 < len; ++i) {
    if ((i == 0 || head[i - 1] == '\n') && strncasecmp(head + i, "content-length:", 15) == 0) {
      return strtoul(head + i + 15, NULL, 10);
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr = {0};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(argc > 1 ? (unsigned short)atoi(argv[1]) : 0);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(lfd, 1024) != 0) return 1;
  socklen_t alen = sizeof addr;
  getsockname(lfd, (struct sockaddr*)&addr, &alen);
  printf("%d\n", ntohs(addr.sin_port));
  fflush(stdout);
  size_t cap = 1 << 20;
  char* buf = malloc(cap);
  for (;;) {
    int fd = accept(lfd, NULL, NULL);
    if (fd < 0) continue;
    size_t len = 0, need = (size_t)-1, head_end = 0;
    while (len < need) {
      if (len == cap) buf = realloc(buf, cap *= 2);
      ssize_t n = read(fd, buf + len, cap - len);
      if (n <= 0) break;
      len += (size_t)n;
      if (!head_end) {
        for (size_t i = 3; i < len; ++i) {
          if (memcmp(buf + i - 3, "\r\n\r\n", 4) == 0) {
            head_end = i + 1;
            need = head_end + content_length(buf, head_end);
            break;
          }
        }
      }
    }
    (void)!write(fd, kAnswer, sizeof kAnswer - 1);
    close(fd);
  }
}
