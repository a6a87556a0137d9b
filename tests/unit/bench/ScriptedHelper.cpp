// A helper process for HelperProcess's test: says "ready", then waits to be
// terminated; with "stubborn" it ignores SIGTERM and must be killed.
#include <signal.h>
#include <unistd.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "stubborn") == 0) signal(SIGTERM, SIG_IGN);
    if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
    for (;;) pause();
}
