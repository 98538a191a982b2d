/* Test starter: runs one program exactly as a job file describes and waits
 * until it and every process it started have ended.
 *
 *   spawn.exe <job file>
 *
 * The job file holds one "key=value" per line (CRLF or LF):
 *   exe=<path>        program to run (lpApplicationName)
 *   wexe=, wcmd=, wdir=  the same three as UTF-8, for names outside the
 *                     ANSI code page: the program is then started wide
 *   cmd=<text>        its whole command line, element 0 included, verbatim
 *   dir=<path>        current folder for it (default: ours)
 *   set=NAME=VALUE    environment variable to set for it (repeatable)
 *   wset=NAME=VALUE   the same, as UTF-8, for values outside the ANSI code page
 *   unset=NAME        environment variable to remove for it (repeatable)
 *   kill=<ms>         terminate the program after this long if still running
 *   killfile=<path>   terminate the program as soon as this file exists
 *   show=<n>          start it with STARTF_USESHOWWINDOW and this wShowWindow
 *   timeout=<ms>      give up waiting for the whole job (default 120000)
 *   out=<path>        where to write the result
 *
 * Result file lines: "created=<0|1> error=<GetLastError>", "exit=<code>",
 * "killed=<0|1>", "timedout=<0|1>".
 *
 * The program runs inside a job object; the processes it starts join the job,
 * so waiting for the job to empty waits for the viewer as well. The job is
 * closed with kill-on-close, so nothing outlives this starter. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

static char exe[4096], cmd[8192], dir[4096], out[4096], killfile[4096];
static char wexe[4096], wcmd[8192], wdir[4096];
static DWORD kill_ms = 0, timeout_ms = 120000;
static int show = -1;

static void chomp(char *s)
{
    size_t n = strlen(s);
    while (n && (s[n - 1] == '\n' || s[n - 1] == '\r'))
        s[--n] = 0;
}

static int read_job(const char *path)
{
    static char line[8192];
    FILE *f = fopen(path, "rb");
    if (!f)
        return 0;
    while (fgets(line, sizeof line, f)) {
        chomp(line);
        if (!strncmp(line, "exe=", 4))
            strcpy(exe, line + 4);
        else if (!strncmp(line, "wexe=", 5))
            strcpy(wexe, line + 5);
        else if (!strncmp(line, "wcmd=", 5))
            strcpy(wcmd, line + 5);
        else if (!strncmp(line, "wdir=", 5))
            strcpy(wdir, line + 5);
        else if (!strncmp(line, "cmd=", 4))
            strcpy(cmd, line + 4);
        else if (!strncmp(line, "dir=", 4))
            strcpy(dir, line + 4);
        else if (!strncmp(line, "out=", 4))
            strcpy(out, line + 4);
        else if (!strncmp(line, "killfile=", 9))
            strcpy(killfile, line + 9);
        else if (!strncmp(line, "kill=", 5))
            kill_ms = strtoul(line + 5, NULL, 10);
        else if (!strncmp(line, "show=", 5))
            show = atoi(line + 5);
        else if (!strncmp(line, "timeout=", 8))
            timeout_ms = strtoul(line + 8, NULL, 10);
        else if (!strncmp(line, "set=", 4)) {
            char *eq = strchr(line + 4, '=');
            if (eq) {
                *eq = 0;
                SetEnvironmentVariableA(line + 4, eq + 1);
            }
        } else if (!strncmp(line, "wset=", 5)) {
            static WCHAR name[256], value[4096];
            char *eq = strchr(line + 5, '=');
            if (eq) {
                *eq = 0;
                MultiByteToWideChar(CP_UTF8, 0, line + 5, -1, name, 256);
                MultiByteToWideChar(CP_UTF8, 0, eq + 1, -1, value, 4096);
                SetEnvironmentVariableW(name, value);
            }
        } else if (!strncmp(line, "unset=", 6))
            SetEnvironmentVariableA(line + 6, NULL);
    }
    fclose(f);
    return exe[0] != 0 || wexe[0] != 0;
}

static DWORD active_processes(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                   &info, sizeof info, NULL))
        return 0;
    return info.ActiveProcesses;
}

int main(int argc, char **argv)
{
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION lim;
    HANDLE job;
    DWORD code = 0xFFFFFFFF, err = 0, start;
    int created, killed = 0, timedout = 0;
    FILE *f;

    if (argc != 2 || !read_job(argv[1])) {
        fprintf(stderr, "usage: spawn.exe <job file with exe=...>\n");
        return 250;
    }

    /* Wine starts the prefix's desktop process (explorer.exe /desktop) for
     * the first window. Started by a 32-bit program under Wine 10, it joined
     * the job and kept it from emptying: have it started now, outside. */
    GetDesktopWindow();

    job = CreateJobObjectA(NULL, NULL);
    ZeroMemory(&lim, sizeof lim);
    lim.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &lim, sizeof lim);

    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (show >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = (WORD)show;
    }
    ZeroMemory(&pi, sizeof pi);
    if (wexe[0]) {
        static WCHAR wide_exe[4096], wide_cmd[8192], wide_dir[4096];
        STARTUPINFOW siw;
        MultiByteToWideChar(CP_UTF8, 0, wexe, -1, wide_exe, 4096);
        MultiByteToWideChar(CP_UTF8, 0, wcmd, -1, wide_cmd, 8192);
        MultiByteToWideChar(CP_UTF8, 0, wdir, -1, wide_dir, 4096);
        ZeroMemory(&siw, sizeof siw);
        siw.cb = sizeof siw;
        siw.dwFlags = si.dwFlags;
        siw.wShowWindow = si.wShowWindow;
        created = CreateProcessW(wide_exe, wide_cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                                 wdir[0] ? wide_dir : NULL, &siw, &pi);
    } else
        created = CreateProcessA(exe, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                                 dir[0] ? dir : NULL, &si, &pi);
    if (!created)
        err = GetLastError();
    else {
        AssignProcessToJobObject(job, pi.hProcess);
        ResumeThread(pi.hThread);
        start = GetTickCount();
        while ((kill_ms || killfile[0])
               && WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT) {
            if ((kill_ms && GetTickCount() - start >= kill_ms)
                || (killfile[0] && GetFileAttributesA(killfile) != INVALID_FILE_ATTRIBUTES)) {
                TerminateProcess(pi.hProcess, 0xDEAD);
                killed = 1;
                break;
            }
            if (GetTickCount() - start > timeout_ms)
                break;
        }
        if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_TIMEOUT)
            timedout = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        /* The viewer, started by the program, may still be running. */
        while (!timedout && active_processes(job) > 0) {
            if (GetTickCount() - start > timeout_ms)
                timedout = 1;
            else
                Sleep(20);
        }
        if (timedout)
            TerminateJobObject(job, 0xDEAD);
    }

    if (out[0] && (f = fopen(out, "wb")) != NULL) {
        fprintf(f, "created=%d error=%lu\nexit=%lu\nkilled=%d\ntimedout=%d\n",
                created, (unsigned long)err, (unsigned long)code, killed, timedout);
        fclose(f);
    }
    CloseHandle(job);
    return created ? (int)(code & 0xFF) : 251;
}
