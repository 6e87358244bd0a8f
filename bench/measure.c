/* measure INPUT CMD [ARGS...]: runs CMD once with stdin from INPUT and stdout on /dev/null,
 * then prints "WALL_NS CPU_US PEAK_RSS_KIB EXIT_STATUS". Kept tiny and static on purpose:
 * a child's peak RSS includes the memory of the process it was started from, so the
 * starter must weigh next to nothing for small programs to be measured fairly. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int in = open(argv[1], O_RDONLY);
  int out = open("/dev/null", O_WRONLY);
  if (in < 0 || out < 0) return 2;
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  pid_t pid = vfork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage ru;
  wait4(pid, &status, 0, &ru);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  long long wall = (t1.tv_sec - t0.tv_sec) * 1000000000LL + (t1.tv_nsec - t0.tv_nsec);
  long long cpu = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000LL + ru.ru_utime.tv_usec +
                  ru.ru_stime.tv_usec;
#ifdef __APPLE__
  long rss = ru.ru_maxrss / 1024;
#else
  long rss = ru.ru_maxrss;
#endif
  printf("%lld %lld %ld %d\n", wall, cpu, rss,
         WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}
