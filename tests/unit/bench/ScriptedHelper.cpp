// A helper process whose behaviour the test chooses, for HelperProcess.
//   announce N     "ready\n", then the integers 1..N as raw 4-byte records,
//                  then waits to be terminated
//   die            exits at once without a word
//   stubborn       "ready\n", then ignores SIGTERM and waits forever
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (strcmp(argv[1], "die") == 0) return 3;
    if (strcmp(argv[1], "stubborn") == 0) signal(SIGTERM, SIG_IGN);
    if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
    if (strcmp(argv[1], "announce") == 0 && argc > 2) {
        for (int i = 1; i <= atoi(argv[2]); ++i) {
            if (write(STDOUT_FILENO, &i, sizeof(i)) != sizeof(i)) return 1;
        }
    }
    for (;;) pause();
}
