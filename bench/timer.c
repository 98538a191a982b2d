/* Times programs from their start to the end of the last process they started.
 *
 *   timer.exe <plan file>
 *
 * The plan holds one "key=value" per line (CRLF or LF):
 *   reps=<n>          how many rounds (default 1)
 *   pause=<ms>        untimed wait before each measurement (default 0)
 *   out=<path>        where to write the times
 *   set=NAME=VALUE    environment variable for every program (repeatable)
 *   case=<label>      begins a case: what one measurement runs
 *   step=<exe>        begins a step of the current case: a program to run
 *   dir=<path>        current folder of the step's program (default: ours)
 *   cmd=<text>        the step's whole command line, element 0 included
 *
 * Each round runs every case once, in plan order, so that cases alternate.
 * A job reports its last process gone before Wine and the kernel have torn
 * that process down; the pause lets the teardown end before the next
 * measurement starts, which would otherwise pay for it.
 * A measurement runs the case's steps one after the other; each step's program
 * runs in a job object of its own, and the step ends when the job has no
 * process left (the program and, say, the viewer it started). The clock runs
 * from just before the first CreateProcessA to the end of the last step.
 *
 * Now and then, mostly on the first run after a build, Wine refuses to start
 * a program with ERROR_INTERNAL_ERROR (1359): such a start is tried once more.
 *
 * Output, one line per measurement: "<label> <seconds> <exit code of the
 * last step>". Exits 0 when every program started and ended in time, 1 when
 * one could not be started, 2 when one timed out, 3 on a bad plan. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_CASES 8
#define MAX_STEPS 4
#define STEP_TIMEOUT_MS 300000

struct step { char exe[1024], dir[1024], cmd[4096]; };
struct plan_case { char label[64]; int steps; struct step step[MAX_STEPS]; };

static struct plan_case cases[MAX_CASES];
static int ncases, reps = 1, pause_ms;
static char out[1024];

static void chomp(char *s)
{
    size_t n = strlen(s);
    while (n && (s[n - 1] == '\n' || s[n - 1] == '\r'))
        s[--n] = 0;
}

static int read_plan(const char *path)
{
    static char line[8192];
    struct plan_case *c = NULL;
    struct step *s = NULL;
    FILE *f = fopen(path, "rb");
    if (!f)
        return 0;
    while (fgets(line, sizeof line, f)) {
        chomp(line);
        if (!strncmp(line, "reps=", 5))
            reps = atoi(line + 5);
        else if (!strncmp(line, "pause=", 6))
            pause_ms = atoi(line + 6);
        else if (!strncmp(line, "out=", 4))
            lstrcpynA(out, line + 4, sizeof out);
        else if (!strncmp(line, "set=", 4)) {
            char *eq = strchr(line + 4, '=');
            if (eq) {
                *eq = 0;
                SetEnvironmentVariableA(line + 4, eq + 1);
            }
        } else if (!strncmp(line, "case=", 5)) {
            if (ncases == MAX_CASES)
                return 0;
            c = &cases[ncases++];
            lstrcpynA(c->label, line + 5, sizeof c->label);
            s = NULL;
        } else if (!strncmp(line, "step=", 5)) {
            if (!c || c->steps == MAX_STEPS)
                return 0;
            s = &c->step[c->steps++];
            lstrcpynA(s->exe, line + 5, sizeof s->exe);
        } else if (!strncmp(line, "dir=", 4) && s)
            lstrcpynA(s->dir, line + 4, sizeof s->dir);
        else if (!strncmp(line, "cmd=", 4) && s)
            lstrcpynA(s->cmd, line + 4, sizeof s->cmd);
    }
    fclose(f);
    for (int i = 0; i < ncases; i++)
        if (cases[i].steps == 0)
            return 0;
    return ncases > 0 && reps > 0;
}

static DWORD active_processes(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, NULL))
        return 0;
    return info.ActiveProcesses;
}

/* Starts a step's program suspended, once more when Wine refuses it with
   error 1359; clock, when given, then starts again. */
static BOOL start_step(const struct step *s, PROCESS_INFORMATION *pi, LARGE_INTEGER *clock)
{
    static char cmd[4096];
    STARTUPINFOA si;

    for (int attempt = 0;; attempt++) {
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        ZeroMemory(pi, sizeof *pi);
        lstrcpynA(cmd, s->cmd, sizeof cmd);
        if (CreateProcessA(s->exe, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                           s->dir[0] ? s->dir : NULL, &si, pi))
            return TRUE;
        if (attempt == 1 || GetLastError() != ERROR_INTERNAL_ERROR)
            return FALSE;
        fprintf(stderr, "timer: Wine refused to start %s (error 1359), once more\n", s->exe);
        if (clock)
            QueryPerformanceCounter(clock);
    }
}

/* Runs one step to the end of its job: 0 done, 1 not started, 2 timed out.
   clock: as for start_step. */
static int run_step(const struct step *s, DWORD *code, LARGE_INTEGER *clock)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION lim;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link;
    PROCESS_INFORMATION pi;
    HANDLE job, port;
    DWORD start, msg;
    ULONG_PTR key;
    LPOVERLAPPED ov;
    int result = 0;

    job = CreateJobObjectA(NULL, NULL);
    ZeroMemory(&lim, sizeof lim);
    lim.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &lim, sizeof lim);
    /* The job reports on this port when its last process ends; where it does
       not, the count of processes is polled. */
    port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
    link.CompletionKey = job;
    link.CompletionPort = port;
    SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link);

    if (!start_step(s, &pi, clock)) {
        fprintf(stderr, "timer: cannot start %s (error %lu)\n", s->exe, GetLastError());
        CloseHandle(port);
        CloseHandle(job);
        return 1;
    }
    AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    start = GetTickCount();
    for (;;) {
        if (GetQueuedCompletionStatus(port, &msg, &key, &ov, 5)) {
            if (msg == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
                break;
        } else if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && active_processes(job) == 0)
            break;
        if (GetTickCount() - start > STEP_TIMEOUT_MS) {
            fprintf(stderr, "timer: %s did not end\n", s->exe);
            TerminateJobObject(job, 0xDEAD);
            result = 2;
            break;
        }
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(port);
    CloseHandle(job);
    return result;
}

int main(int argc, char **argv)
{
    LARGE_INTEGER freq, t0, t1;
    FILE *f;
    int failed = 0;

    if (argc != 2 || !read_plan(argv[1])) {
        fprintf(stderr, "usage: timer.exe <plan file with case= and step= lines>\n");
        return 3;
    }
    f = out[0] ? fopen(out, "wb") : stdout;
    if (!f)
        return 3;
    QueryPerformanceFrequency(&freq);
    for (int r = 0; r < reps && !failed; r++) {
        for (int i = 0; i < ncases && !failed; i++) {
            DWORD code = 0;
            if (pause_ms > 0)
                Sleep((DWORD)pause_ms);
            QueryPerformanceCounter(&t0);
            for (int k = 0; k < cases[i].steps && !failed; k++)
                failed = run_step(&cases[i].step[k], &code, k == 0 ? &t0 : NULL);
            QueryPerformanceCounter(&t1);
            if (!failed)
                fprintf(f, "%s %.6f %lu\n", cases[i].label,
                        (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart,
                        (unsigned long)code);
        }
    }
    if (f != stdout)
        fclose(f);
    return failed;
}
