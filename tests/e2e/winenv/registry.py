"""Registry values of the prefix, read and written through wintool.exe (one helper round trip
per call, about 10 ms)."""

from .common import HarnessError, hex_text

REG_TYPES = {'sz': 1, 'expand_sz': 2, 'binary': 3, 'dword': 4, 'multi_sz': 7, 'qword': 11,
             'none': 0}
REG_TYPE_NAMES = {v: k for k, v in REG_TYPES.items()}


class RegistryMixin:
    """Needs wintool()."""

    @staticmethod
    def _reg_data(type_name, value):
        if type_name in ('sz', 'expand_sz'):
            return hex_text(value)
        if type_name == 'multi_sz':
            return hex_text('\n'.join(value))
        if type_name in ('dword', 'qword'):
            return str(int(value) & (0xFFFFFFFF if type_name == 'dword' else 0xFFFFFFFFFFFFFFFF))
        return bytes(value).hex()

    @staticmethod
    def _type_name(type_):
        name = type_.lower()
        name = name[4:] if name.startswith('reg_') else name
        if name not in REG_TYPES:
            raise HarnessError(f'unknown registry type {type_!r}')
        return name

    def reg_set_op(self, key, name, type_, value, view=64):
        """The wintool operation of reg_set, for batching several in one wintool call."""
        type_name = self._type_name(type_)
        return ['reg-set', hex_text(key), hex_text(name), type_name,
                self._reg_data(type_name, value), str(view)]

    def reg_set(self, key, name, type_, value, view=64):
        """Writes a value, creating the key. key: 'HKLM\\Software\\...'; type_: 'REG_SZ',
        'REG_EXPAND_SZ', 'REG_MULTI_SZ' (list), 'REG_DWORD', 'REG_QWORD' (int), 'REG_BINARY',
        'REG_NONE' (bytes); view 64 or 32. Raises HarnessError when the write fails."""
        r = self.wintool(self.reg_set_op(key, name, type_, value, view))[0]
        if not r['ok']:
            raise HarnessError(f'reg_set {key}\\{name} failed: error {r["error"]}')

    def reg_set_many(self, values, view=64):
        """Writes (key, name, type, value) tuples in one helper start."""
        ops = [self.reg_set_op(k, n, t, v, view) for k, n, t, v in values]
        for (k, n, _, _), r in zip(values, self.wintool(*ops)):
            if not r['ok']:
                raise HarnessError(f'reg_set {k}\\{n} failed: error {r["error"]}')

    def reg_get(self, key, name, view=64, with_type=False):
        """Returns the value (str, list, int or bytes), or None when the key or value is missing.
        With with_type, returns (type name such as 'REG_DWORD', value) or None."""
        r = self.wintool(['reg-get', hex_text(key), hex_text(name), str(view)])[0]
        if not r['ok']:
            if r['error'] == 2:
                return None
            raise HarnessError(f'reg_get {key}\\{name} failed: error {r["error"]}')
        data = bytes.fromhex(r['data_hex'])
        type_name = REG_TYPE_NAMES.get(r['type'], str(r['type']))
        if type_name in ('sz', 'expand_sz'):
            value = data.decode('utf-16-le', 'replace')
            value = value.split('\0', 1)[0]
        elif type_name == 'multi_sz':
            value = [s for s in data.decode('utf-16-le', 'replace').split('\0') if s]
        elif type_name in ('dword', 'qword') and len(data) in (4, 8):
            value = int.from_bytes(data, 'little')
        else:
            value = data
        return ('REG_' + type_name.upper(), value) if with_type else value

    def reg_delete_value(self, key, name, view=64):
        """Deletes a value. Returns False when it was not there."""
        r = self.wintool(['reg-delete-value', hex_text(key), hex_text(name), str(view)])[0]
        if r['ok'] or r['error'] == 2:
            return r['ok']
        raise HarnessError(f'reg_delete_value {key}\\{name} failed: error {r["error"]}')

    def reg_delete_key(self, key, view=64):
        """Deletes a key and everything below it. Returns False when it was not there."""
        return self.reg_delete_keys([key], view)[0]

    def reg_delete_keys(self, keys, view=64):
        results = self.wintool(*[['reg-delete-key', hex_text(k), str(view)] for k in keys])
        for k, r in zip(keys, results):
            if not r['ok'] and r['error'] != 2:
                raise HarnessError(f'reg_delete_key {k} failed: error {r["error"]}')
        return [r['ok'] for r in results]

    def reg_list(self, key, view=64):
        """Returns (subkey names, value names), or None when the key is missing."""
        r = self.wintool(['reg-list', hex_text(key), str(view)])[0]
        if not r['ok']:
            return None
        decode = lambda items: [bytes.fromhex(x).decode('utf-8') for x in items]
        return decode(r['keys_hex']), decode(r['values_hex'])
