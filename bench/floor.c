/* The practical floor for "a process plus one loopback HTTP exchange": read stdin, POST it
 * to 127.0.0.1:PORT over a raw socket, read the answer to the end, exit. Built static. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  size_t cap = 1 << 16, len = 0;
  char* body = malloc(cap);
  for (;;) {
    if (len == cap) body = realloc(body, cap *= 2);
    ssize_t n = read(0, body + len, cap - len);
    if (n <= 0) break;
    len += (size_t)n;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {0};
  addr.sin_family = AF_INET;
  addr.sin_port = htons((unsigned short)atoi(argv[1]));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) return 1;
  char head[256];
  int hlen =
      snprintf(head, sizeof head,
               "POST /state HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/json\r\n"
               "Content-Length: %zu\r\nConnection: close\r\n\r\n",
               argv[1], len);
  struct iovec iov[2] = {{head, (size_t)hlen}, {body, len}};
  size_t total = (size_t)hlen + len, sent = 0;
  while (sent < total) {
    ssize_t w = writev(fd, iov, 2);
    if (w <= 0) return 1;
    sent += (size_t)w;
    for (int i = 0; i < 2; ++i) {
      size_t take = (size_t)w < iov[i].iov_len ? (size_t)w : iov[i].iov_len;
      iov[i].iov_base = (char*)iov[i].iov_base + take;
      iov[i].iov_len -= take;
      w -= (ssize_t)take;
    }
  }
  char buf[4096];
  while (read(fd, buf, sizeof buf) > 0) {
  }
  close(fd);
  return 0;
}
