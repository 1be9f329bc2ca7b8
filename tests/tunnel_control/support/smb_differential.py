#!/usr/bin/python3
"""The simulated platform's open path held to Samba.

Plays smb_scenarios.txt over SMB against a private smbd that this test starts
and stops itself, and on the simulation through smb_scenario_runner under
Wine, then compares the answers step by step, excusing only the rows of the
file's tables.

    smb_differential.py SCENARIOS WORK_DIR EMULATOR RUNNER

smbd serves two ordinary users and an administrator who exist only for it,
as in Samba's own test suite: uid_wrapper fakes its root, nss_wrapper its
accounts, socket_wrapper its port (a Unix socket under WORK_DIR);
smb_server_shim.c covers what Debian's wrappers leave out. No real root,
account or port is needed.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

WRAPPERS = '/usr/lib/x86_64-linux-gnu/lib%s_wrapper.so'
USERS = {'A': 'varnalice', 'B': 'varnbob', 'admin': 'varnadmin'}
SYNCHRONIZE, FILE_READ_ATTRIBUTES = 0x100000, 0x80
# The folders every scenario starts from: readable by all, inherited by none.
FOLDER_SDDL = 'O:BAD:PAI(A;;0x1F01FF;;;BA)(A;;0x1200A9;;;WD)'
# The NTSTATUS values the steps meet, as Win32 reports them.
WIN32 = {
    0xC0000022: 5, 0xC0000056: 5, 0xC0000121: 5, 0xC00000BA: 5,
    0xC0000043: 32, 0xC0000034: 2, 0xC000003A: 3, 0xC0000101: 145,
    0xC0000035: 183,
}
RIGHTS = {'FA': 0x1F01FF, 'FR': 0x120089, 'FW': 0x120116, 'FX': 0x1200A0,
          'GA': 0x10000000, 'GR': 0x80000000, 'GW': 0x40000000,
          'GX': 0x20000000}
ACE_FLAGS = [('OI', 1), ('CI', 2), ('NP', 4), ('IO', 8), ('ID', 0x10)]
SMB_CONF = """[global]
  netbios name = VARNTEST
  workgroup = VARNTEST
  server role = standalone server
  interfaces = 127.0.0.2/8
  bind interfaces only = yes
  smb ports = 445
  private dir = {w}/private
  lock directory = {w}/lock
  state directory = {w}/state
  cache directory = {w}/cache
  pid directory = {w}/pid
  ncalrpc dir = {w}/ncalrpc
  log file = {w}/smbd.log
  passdb backend = tdbsam:{w}/private/passdb.tdb
  load printers = no
  disable spoolss = yes
  rpc_server:default = disabled
  xattr_tdb:file = {w}/state/xattr.tdb
[t]
  path = {w}/share
  read only = no
  vfs objects = acl_xattr xattr_tdb
  acl_xattr:ignore system acls = yes
"""


def parse(path):
    """Scenarios as (name, steps) and the two tables, keyed (scenario, step)."""
    scenarios, differs, pending = [], {}, {}
    for line in open(path, encoding='utf-8'):
        words = line.split()
        if not words or words[0].startswith('#'):
            continue
        if words[0] in ('samba-differs', 'until-access-merge'):
            cells = [c.strip() for c in line.split('|')[1:]]
            table = differs if words[0] == 'samba-differs' else pending
            table[(cells[0], cells[1])] = cells[2:]
        elif words[0] == 'scenario':
            scenarios.append((' '.join(words[1:]), []))
        else:
            scenarios[-1][1].append(words)
    return scenarios, differs, pending


def wrapped_env(work, preload):
    env = dict(os.environ, UID_WRAPPER='1', UID_WRAPPER_ROOT='1',
               NSS_WRAPPER_PASSWD=work + '/passwd',
               NSS_WRAPPER_GROUP=work + '/group',
               SOCKET_WRAPPER_DIR=work + '/sock',
               SOCKET_WRAPPER_DEFAULT_IFACE='2')
    env['LD_PRELOAD'] = ':'.join(preload)
    return env


def prepare(work):
    shutil.rmtree(work, ignore_errors=True)
    for sub in ('share', 'private', 'lock', 'state', 'cache', 'pid', 'sock'):
        os.makedirs(os.path.join(work, sub))
    with open(work + '/passwd', 'w') as f:
        f.write('root:x:0:0:root:/:/bin/false\n'
                'nobody:x:65534:65534:nobody:/:/bin/false\n')
        # The administrator is root to smbd, under uid_wrapper a fake one.
        for uid, name in zip((2001, 2002, 0), USERS.values()):
            f.write(f'{name}:x:{uid}:{uid}:{name}:/:/bin/false\n')
    with open(work + '/group', 'w') as f:
        f.write('root:x:0:\nnogroup:x:65534:\n')
        for gid, name in enumerate(USERS.values(), 2001):
            f.write(f'{name}:x:{gid}:\n')
    with open(work + '/smb.conf', 'w') as f:
        f.write(SMB_CONF.format(w=work))
    shim = os.path.join(os.path.dirname(__file__), 'smb_server_shim.c')
    subprocess.run(['cc', '-shared', '-fPIC', '-o', work + '/shim.so', shim,
                    '-ldl'], check=True)
    env = wrapped_env(work, [work + '/shim.so'] +
                      [WRAPPERS % w for w in ('uid', 'nss')])
    for name in USERS.values():
        subprocess.run(['smbpasswd', '-c', work + '/smb.conf', '-a', '-s',
                        name], input=b'Pw-1234\nPw-1234\n', env=env,
                       check=True, capture_output=True)
    listing = subprocess.run(['pdbedit', '-s', work + '/smb.conf', '-L',
                              '-v'], env=env, check=True, capture_output=True,
                             text=True).stdout
    sids = dict(re.findall(r'Unix username:\s+(\S+)\n(?:.*\n)*?User SID:\s+'
                           r'(\S+)', listing))
    return {who: sids[name] for who, name in USERS.items()}


def hex_rights(sddl):
    """Rights as numbers: Samba 4.17 reads "FA" as 0x1FF."""
    return re.sub(r'\(([AD]);([A-Z]*);([A-Z]+);',
                  lambda m: '(%s;%s;0x%X;' % (
                      m[1], m[2], sum(RIGHTS[m[3][i:i + 2]]
                                      for i in range(0, len(m[3]), 2))),
                  sddl)


class Samba:
    """The steps over SMB, each answered as the runner answers it."""

    def __init__(self, work, sids):
        from samba import credentials
        from samba.dcerpc import security
        from samba.samba3 import libsmb_samba_internal as libsmb
        from samba.samba3 import param
        self.security, self.sids, self.trips = security, sids, 0
        lp = param.get_context()
        lp.load(work + '/smb.conf')
        self.conns = {}
        for who, name in USERS.items():
            creds = credentials.Credentials()
            creds.guess(lp)
            creds.set_username(name)
            creds.set_password('Pw-1234')
            self.conns[who] = libsmb.Conn('127.0.0.2', 't', lp, creds)
        self.domain = security.dom_sid(sids['A'].rsplit('-', 1)[0])
        self.secure('', FOLDER_SDDL)

    def call(self, who, method, *args, **kwargs):
        self.trips += 1
        return getattr(self.conns[who], method)(*args, **kwargs)

    def sddl(self, text):
        for who in ('A', 'B'):
            text = text.replace('%' + who, self.sids[who])
        return self.security.descriptor.from_sddl(hex_rights(text),
                                                  self.domain)

    def secure(self, path, sddl, directory=True):
        f = self.call('admin', 'create', path, DesiredAccess=0x1F01FF,
                      CreateDisposition=3, CreateOptions=1 if directory
                      else 0x40)
        sd = self.sddl(sddl)
        # As SetSecurityInfo asks: without it smbd drops the AI flag.
        sd.type |= self.security.SEC_DESC_DACL_AUTO_INHERIT_REQ
        self.call('admin', 'set_sd', f, sd, self.security.SECINFO_OWNER |
                  self.security.SECINFO_DACL)
        self.call('admin', 'close', f)

    def play(self, folder, scenario):
        from samba import NTSTATUSError
        slots, lines = {}, []
        at = lambda p: folder + '\\' + p
        self.secure(folder, FOLDER_SDDL)
        for w in scenario:
            verb, answer = w[0], 'ok'
            try:
                if verb in ('dir', 'file'):
                    self.secure(at(w[1]), 'O:%sD:%s' % (w[2], w[3][2:]),
                             verb == 'dir')
                    continue
                if verb == 'open':
                    new = len(w) > 6 and w[6] == 'new'
                    # What CreateFileW asks of the file system.
                    access = int(w[4], 16) | SYNCHRONIZE | FILE_READ_ATTRIBUTES
                    f = self.call(w[1], 'create', at(w[3]),
                                  DesiredAccess=access,
                                  ShareAccess=int(w[5]),
                                  CreateDisposition=2 if new else 1,
                                  CreateOptions=0x40 if new else 0)
                    if w[2] == '-':
                        self.call(w[1], 'close', f)
                    else:
                        slots[w[2]] = (w[1], f)
                elif verb == 'mkdir':
                    f = self.call(w[1], 'create', at(w[2]),
                                  DesiredAccess=SYNCHRONIZE | 1,
                                  CreateDisposition=2, CreateOptions=1)
                    self.call(w[1], 'close', f)
                elif verb == 'close':
                    if w[1] in slots:
                        who, f = slots.pop(w[1])
                        self.call(who, 'close', f)
                elif verb == 'dispose':
                    who, f = slots[w[1]]
                    self.call(who, 'delete_on_close', f, w[2] == '1')
                elif verb == 'rename':
                    self.call(w[1], 'rename', at(w[2]), at(w[3]),
                              len(w) > 4 and w[4] == 'replace')
                elif verb in ('exists', 'sd'):
                    answer = self.inspect(verb, at(w[1]))
            except NTSTATUSError as e:
                status = e.args[0] & 0xFFFFFFFF
                error = WIN32.get(status)
                if status == 0xC0000035 and verb == 'open':
                    error = 80
                answer = ('error %d' % error if error else
                          'status 0x%08X' % status)
            lines.append((' '.join(w), answer))
        for who, f in slots.values():
            self.call(who, 'close', f)
        return lines

    def inspect(self, verb, path):
        from samba import NTSTATUSError
        try:
            f = self.call('admin', 'create', path, DesiredAccess=0x20000,
                          ShareAccess=7, CreateDisposition=1)
        except NTSTATUSError as e:
            status = e.args[0] & 0xFFFFFFFF
            if status == 0xC0000056 and verb == 'exists':
                return 'yes'  # the name stays until its last handle closes
            if status != 0xC0000034:
                raise
            return 'no' if verb == 'exists' else 'missing'
        sd = self.call('admin', 'get_sd', f, self.security.SECINFO_OWNER |
                       self.security.SECINFO_DACL) if verb == 'sd' else None
        self.call('admin', 'close', f)
        return 'yes' if sd is None else canonical(sd, self.sids)


def canonical(sd, sids):
    """Owner, DACL flags and entries, the users as %A and %B."""
    names = {v: '%' + k for k, v in sids.items() if k != 'admin'}
    names.update({'S-1-3-0': 'CO', 'S-1-5-32-544': 'BA', 'S-1-5-18': 'SY',
                  'S-1-1-0': 'WD'})
    name = lambda sid: names.get(str(sid), str(sid))
    flags = ('P' if sd.type & 0x1000 else '') + ('AI' if sd.type & 0x400
                                                 else '')
    aces = ''.join('(%s;%s;0x%X;%s)' % (
        'AD'[ace.type], ''.join(f for f, bit in ACE_FLAGS if ace.flags & bit),
        ace.access_mask, name(ace.trustee)) for ace in sd.dacl.aces)
    return 'O:%s D:%s%s' % (name(sd.owner_sid), flags, aces)


def compare(samba, simulated, differs, pending):
    """Failures, and the rows of both tables that were used."""
    failures, used = [], set()
    for (scenario, step, real), (sim_scenario, sim_step, sim) in zip(
            samba, simulated):
        if (scenario, step) != (sim_scenario, sim_step):
            return ['out of step at "%s" / "%s"' % (step, sim_step)], used
        key = (scenario, step)
        windows = real
        if key in differs:
            used.add(('samba-differs',) + key)
            row_samba, windows = differs[key][0], differs[key][1]
            if real != row_samba:
                failures.append('%s / %s: Samba now answers "%s", not "%s": '
                                'fix or drop the samba-differs row' %
                                (scenario, step, real, row_samba))
        if sim == windows:
            if key in pending:
                failures.append('%s / %s: the simulation now agrees: drop the '
                                'until-access-merge row' % key)
            continue
        if key in pending and pending[key][0] == sim:
            used.add(('until-access-merge',) + key)
            continue
        failures.append('%s / %s\n  Windows (Samba): %s\n  simulated:       %s'
                        % (scenario, step, windows, sim))
    for table, rows in (('samba-differs', differs),
                        ('until-access-merge', pending)):
        for key in rows:
            if (table,) + key not in used and not any(
                    f.startswith('%s / %s' % key) for f in failures):
                failures.append('%s row never met: %s / %s' % ((table,) + key))
    return failures, used


def main():
    scenarios_path, work, emulator, runner = sys.argv[1:5]
    work = os.path.abspath(work)
    if os.environ.get('SOCKET_WRAPPER_DIR') != work + '/sock':
        # The client too must reach smbd through the socket wrapper.
        started = time.time()
        sids = prepare(work)
        env = wrapped_env(work, [WRAPPERS % 'socket'])
        env['VARN_SMB_SIDS'] = ','.join(sids[k] for k in ('A', 'B', 'admin'))
        env['VARN_SMB_STARTED'] = str(started)
        os.execve(sys.executable, [sys.executable] + sys.argv, env)
    started = float(os.environ['VARN_SMB_STARTED'])
    sids = dict(zip(('A', 'B', 'admin'),
                    os.environ['VARN_SMB_SIDS'].split(',')))
    scenarios, differs, pending = parse(scenarios_path)
    plain = {k: v for k, v in os.environ.items()
             if 'WRAPPER' not in k and k != 'LD_PRELOAD'}
    with open(scenarios_path, 'rb') as data:
        simulation = subprocess.Popen([emulator, runner], stdin=data,
                                      stdout=subprocess.PIPE, env=plain)
    server_env = wrapped_env(work, [work + '/shim.so'] + [
        WRAPPERS % w for w in ('uid', 'nss', 'socket')])
    # In a session of its own: smbd signals its whole group when it stops.
    smbd = subprocess.Popen(['smbd', '-s', work + '/smb.conf', '-F',
                             '--no-process-group'],
                            env=server_env, start_new_session=True,
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            if os.listdir(work + '/sock') or smbd.poll() is not None:
                break
            time.sleep(0.05)
        samba = Samba(work, sids)
        real = []
        for number, (name, steps) in enumerate(scenarios, 1):
            real += [(name, step, answer) for step, answer in
                     samba.play('s%d' % number, steps)]
    except BaseException:
        simulation.kill()
        simulation.wait()
        print('smbd\'s log: %s/smbd.log' % work)
        raise
    finally:
        # The server and the children it forked, never left running.
        try:
            os.killpg(smbd.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        smbd.wait(timeout=30)
    output = simulation.communicate(timeout=240)[0].decode()
    simulated, name = [], None
    for line in output.splitlines():
        line = line.rstrip('\r')
        if line.startswith('scenario '):
            name = line[len('scenario '):]
        elif ': ' in line:
            step, answer = line.split(': ', 1)
            if answer.startswith('O:'):
                answer = canonical(samba.sddl(answer), sids)
            simulated.append((name, step, answer))
    if simulation.returncode != 0 or len(simulated) != len(real):
        print('the simulation runner failed (exit %d, %d of %d answers)' %
              (simulation.returncode, len(simulated), len(real)))
        return 1
    failures, used = compare(real, simulated, differs, pending)
    for failure in failures:
        print(failure)
    print('%d scenarios, %d steps, %d SMB round trips, %d Samba deviations, '
          '%d rows until the access merge, %.1f s' % (
              len(scenarios), len(real), samba.trips,
              sum(1 for u in used if u[0] == 'samba-differs'),
              sum(1 for u in used if u[0] == 'until-access-merge'),
              time.time() - started))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
