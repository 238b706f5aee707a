"""Runs a command under the system call rules of a systemd unit, as the service manager would.

    confine.py UNIT -- PROGRAM [ARGUMENT...]

Reads SystemCallFilter=, SystemCallErrorNumber=, RestrictAddressFamilies=, MemoryDenyWriteExecute=,
RestrictNamespaces=, LockPersonality= and UMask= from the unit's [Service] section, installs the
same seccomp filter through libseccomp and replaces itself with the program. The file system view
(ProtectSystem=, PrivateTmp=, ...) is bubblewrap's job; this is the half bubblewrap cannot do.
Needs no-new-privileges already set (bubblewrap sets it).
"""

import ctypes
import errno
import os
import subprocess
import sys

SCMP_ACT_ALLOW = 0x7FFF0000
SCMP_CMP_EQ = 4
SCMP_CMP_MASKED_EQ = 7

PROT_WRITE, PROT_EXEC = 0x2, 0x4
SHM_EXEC = 0o100000
CLONE_NEW = 0x00020000 | 0x04000000 | 0x08000000 | 0x10000000 | 0x20000000 | 0x40000000 | 0x02000000
PERSONALITY_QUERY = 0xFFFFFFFF
FAMILIES = {"AF_UNIX": 1, "AF_INET": 2, "AF_INET6": 10, "AF_NETLINK": 16, "AF_PACKET": 17}


def act_errno(number):
    return 0x00050000 | (number & 0xFFFF)


class ArgCmp(ctypes.Structure):
    _fields_ = [("arg", ctypes.c_uint), ("op", ctypes.c_int), ("a", ctypes.c_uint64), ("b", ctypes.c_uint64)]


def service_settings(unit):
    """The [Service] section's assignments, repeated keys in their order."""
    settings, section = {}, None
    with open(unit, encoding="utf-8") as text:
        for line in text:
            line = line.strip()
            if not line or line[0] in "#;":
                continue
            if line.startswith("["):
                section = line
            elif section == "[Service]" and "=" in line:
                key, value = line.split("=", 1)
                settings.setdefault(key.strip(), []).append(value.strip())
    return settings


def syscall_groups():
    """Every @group systemd knows, as its list of members (syscalls and nested @groups)."""
    text = subprocess.run(["systemd-analyze", "syscall-filter", "--no-pager"], check=True,
                          capture_output=True, text=True).stdout
    groups, current = {}, None
    for line in text.splitlines():
        if line.startswith("@"):
            current = groups.setdefault(line.strip(), [])
        elif current is not None and line.strip() and not line.strip().startswith("#"):
            current.append(line.strip())
    return groups


def expand(names, groups):
    out = set()
    for name in names:
        if name.startswith("@"):
            out |= expand(groups.get(name, []), groups)
        else:
            out.add(name)
    return out


def allowed_syscalls(filters, groups):
    """SystemCallFilter= lines: the first allows a list, each `~` line takes its groups away."""
    allowed = set()
    for value in filters:
        deny = value.startswith("~")
        names = expand(value.lstrip("~").split(), groups)
        allowed = allowed - names if deny else allowed | names
    return allowed


def main():
    split = sys.argv.index("--")
    unit, command = sys.argv[1], sys.argv[split + 1:]
    settings = service_settings(unit)
    yes = lambda key: settings.get(key, ["no"])[-1] in ("yes", "true", "1", "on")

    lib = ctypes.CDLL("libseccomp.so.2", use_errno=True)
    lib.seccomp_init.restype = ctypes.c_void_p
    lib.seccomp_init.argtypes = [ctypes.c_uint32]
    lib.seccomp_rule_add_array.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int, ctypes.c_uint,
                                           ctypes.POINTER(ArgCmp)]
    lib.seccomp_syscall_resolve_name.argtypes = [ctypes.c_char_p]
    lib.seccomp_load.argtypes = [ctypes.c_void_p]

    filters = settings.get("SystemCallFilter")
    if not filters:
        raise SystemExit("confine: the unit has no SystemCallFilter= list")
    allowed = allowed_syscalls(filters, syscall_groups())
    error = settings.get("SystemCallErrorNumber", [None])[-1]
    refuse = act_errno(getattr(errno, error)) if error else 0x80000000  # else: kill the process
    ctx = lib.seccomp_init(refuse)

    def rule(action, name, *conditions):
        number = lib.seccomp_syscall_resolve_name(name.encode())
        if number < 0:
            return  # a name this architecture does not have
        array = (ArgCmp * max(1, len(conditions)))(*[ArgCmp(*c) for c in conditions])
        if lib.seccomp_rule_add_array(ctypes.c_void_p(ctx), action, number, len(conditions), array) != 0:
            raise SystemExit(f"confine: rule for {name} refused")

    # Calls let through only in part: each condition is one way through, anything else is refused.
    partial = {}
    if yes("MemoryDenyWriteExecute"):
        partial["mmap"] = [(2, SCMP_CMP_MASKED_EQ, PROT_WRITE | PROT_EXEC, 0),
                           (2, SCMP_CMP_MASKED_EQ, PROT_WRITE | PROT_EXEC, PROT_WRITE),
                           (2, SCMP_CMP_MASKED_EQ, PROT_WRITE | PROT_EXEC, PROT_EXEC)]
        partial["mprotect"] = [(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)]
        partial["pkey_mprotect"] = [(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)]
        partial["shmat"] = [(2, SCMP_CMP_MASKED_EQ, SHM_EXEC, 0)]
    families = settings.get("RestrictAddressFamilies")
    if families:
        partial["socket"] = [(0, SCMP_CMP_EQ, FAMILIES[f], 0) for f in families[-1].split()]
    if yes("RestrictNamespaces"):
        partial["clone"] = [(0, SCMP_CMP_MASKED_EQ, CLONE_NEW, 0)]
        partial["unshare"] = partial["setns"] = []
        # systemd answers clone3 with ENOSYS, so that the C library falls back to clone.
        allowed.discard("clone3")
        rule(act_errno(errno.ENOSYS), "clone3")
    if yes("LockPersonality"):
        partial["personality"] = [(0, SCMP_CMP_EQ, 0, 0), (0, SCMP_CMP_EQ, PERSONALITY_QUERY, 0)]

    for name in sorted(allowed):
        for condition in partial.get(name, [()]):
            rule(SCMP_ACT_ALLOW, name, *([condition] if condition else []))

    umask = settings.get("UMask")
    if umask:
        os.umask(int(umask[-1], 8))
    if lib.seccomp_load(ctypes.c_void_p(ctx)) != 0:
        raise SystemExit("confine: the filter could not be loaded")
    os.execv(command[0], command)


if __name__ == "__main__":
    main()
