#!/usr/bin/env python3
"""JSON-RPC calls to the private test server's frontend API.

  zabbix_api.py URL ping
  zabbix_api.py URL ready-host TRAPPER_PORT
  zabbix_api.py URL import TRAPPER_PORT TEMPLATE_YAML HOSTNAME...

The new hosts get the user macros of CGNAT_ZBX_HOST_MACROS, a JSON object
such as {"{$CGNAT.INTERVAL}": "10s"}, when it is set, and are monitored by
the proxy CGNAT_ZBX_HOST_PROXY names, or the proxy group (7.0)
CGNAT_ZBX_HOST_PROXY_GROUP names, when that is set; with a group, the
TRAPPER_PORT argument lists each member's port, comma-separated (the one
that owns a host takes its values, the others redirect).

  zabbix_api.py URL proxy NAME [GROUP PORT]   (registers an active proxy;
      with GROUP, 7.0, as a member of that group, made if missing,
      listening on 127.0.0.1:PORT)
  zabbix_api.py URL template TEMPLATE_YAML   (imports it, no host)
  zabbix_api.py URL link HOSTNAME=ADDRESS...  (hosts linked to the imported
      template, each with its own interface address, created in batches;
      does not wait for the server to take them)
  zabbix_api.py URL dashboard HOSTNAME   (prints hostid and dashboardid)
  zabbix_api.py URL export TEMPLATE_YAML TIMEOUT   (7.0: imports it, gives
      the external check that timeout and prints the template exported in
      the server's own format)
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

READY_HOST = "cgnat-ready"  # owns the trapper item start.sh probes
READY_KEY = "ready"
MARKER_KEY = "cgnat.test.ready"  # made and removed again on each new host
HOST_GROUP = "CGNAT"
TEMPLATE = "CGNAT Linux by SSH"
UNSIGNED, TRAPPER = 3, 2


class Api:
    def __init__(self, url, timeout=30):
        self.url, self.auth, self.next_id = url, None, 1
        self.timeout = timeout
        self.release = None  # "6.0" or "7.0", learnt at login

    def call(self, method, params):
        body = {"jsonrpc": "2.0", "method": method, "params": params,
                "id": self.next_id}
        self.next_id += 1
        headers = {"Content-Type": "application/json-rpc"}
        if self.auth and self.release == "6.0":
            body["auth"] = self.auth
        elif self.auth:  # 7.0 deprecates the body's "auth"
            headers["Authorization"] = "Bearer " + self.auth
        request = urllib.request.Request(
            self.url, json.dumps(body).encode(), headers)
        with urllib.request.urlopen(request, timeout=self.timeout) as answer:
            reply = json.load(answer)
        if "error" in reply:
            error = reply["error"]
            raise SystemExit(f"API {method}: {error.get('message')} "
                             f"{error.get('data')}")
        return reply["result"]

    def login(self):
        self.release = ".".join(
            self.call("apiinfo.version", {}).split(".")[:2])
        self.auth = self.call("user.login",
                              {"username": "Admin", "password": "zabbix"})


def group_id(api, name):
    found = api.call("hostgroup.get", {"filter": {"name": [name]}})
    if found:
        return found[0]["groupid"]
    return api.call("hostgroup.create", {"name": name})["groupids"][0]


def create_hosts(api, names, templates=(), addresses=None):
    """Creates the hosts not there yet (imports are idempotent)."""
    if not names:
        return {}
    existing = {h["host"] for h in api.call(
        "host.get", {"filter": {"host": list(names)}, "output": ["host"]})}
    addresses = addresses or {}
    groups = [{"groupid": group_id(api, HOST_GROUP)}]
    macros = [{"macro": macro, "value": value} for macro, value in
              json.loads(os.environ.get("CGNAT_ZBX_HOST_MACROS", "{}")).items()]
    new = [{"host": name, "groups": groups,
            "interfaces": [{"type": 1, "main": 1, "useip": 1,
                            "ip": addresses.get(name, "127.0.0.1"),
                            "dns": "", "port": "10050"}],
            "templates": [{"templateid": t} for t in templates],
            "macros": macros}
           for name in names if name not in existing]
    proxy = os.environ.get("CGNAT_ZBX_HOST_PROXY")
    group = os.environ.get("CGNAT_ZBX_HOST_PROXY_GROUP")
    if proxy:
        proxyid = proxy_id(api, proxy)
        if not proxyid:
            raise SystemExit(f"o proxy '{proxy}' não existe no servidor")
        for host in new:
            if api.release == "6.0":
                host["proxy_hostid"] = proxyid
            else:
                host.update(monitored_by=1, proxyid=proxyid)
    elif group:
        groupid = proxy_group_id(api, group, create=False)
        for host in new:
            host.update(monitored_by=2, proxy_groupid=groupid)
    if not new:
        return {}
    ids = api.call("host.create", new)["hostids"]
    return dict(zip((h["host"] for h in new), ids))


def proxy_id(api, name):
    """The proxy's id, or None; 6.0 names proxies by "host"."""
    field = "host" if api.release == "6.0" else "name"
    found = api.call("proxy.get", {"filter": {field: [name]}})
    return found[0]["proxyid"] if found else None


def proxy_group_id(api, name, create=True):
    found = api.call("proxygroup.get", {"filter": {"name": [name]}})
    if found:
        return found[0]["proxy_groupid"]
    if not create:
        raise SystemExit(f"o grupo de proxies '{name}' não existe no servidor")
    # The shortest failover the server allows; one proxy online is enough.
    return api.call("proxygroup.create", {
        "name": name, "failover_delay": "10s",
        "min_online": "1"})["proxy_groupids"][0]


def register_proxy(api, name, group=None, port=None):
    """An active proxy; with group, a member reached at 127.0.0.1:port."""
    proxyid = proxy_id(api, name)
    if api.release == "6.0":
        if group:
            raise SystemExit("grupos de proxies existem a partir do Zabbix 7.0")
        if not proxyid:
            api.call("proxy.create", {"host": name, "status": 5,
                                      "proxy_address": "127.0.0.1"})
        return
    fields = {"name": name, "operating_mode": 0,
              "allowed_addresses": "127.0.0.1"}
    if group:
        fields.update(proxy_groupid=proxy_group_id(api, group),
                      local_address="127.0.0.1", local_port=str(port))
    if proxyid:
        api.call("proxy.update", dict(fields, proxyid=proxyid))
    else:
        api.call("proxy.create", fields)


def trapper_item(api, hostid, key):
    return api.call("item.create", {
        "hostid": hostid, "name": key, "key_": key, "type": TRAPPER,
        "value_type": UNSIGNED})["itemids"][0]


def accepted(ports, host, key, seconds):
    """Sends until the server, or one of a group's proxies, processes a
    value: its cache knows the item."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for port in str(ports).split(","):
            out = subprocess.run(
                ["zabbix_sender", "-z", "127.0.0.1", "-p", port, "-s", host,
                 "-k", key, "-o", "1"], capture_output=True, text=True).stdout
            if "processed: 1" in out:
                return True
        time.sleep(0.1)
    return False


def import_yaml(api, yaml_path):
    with open(yaml_path, encoding="utf-8") as f:
        source = f.read()
    both = {"createMissing": True, "updateExisting": True}
    # 7.0 keeps template groups apart from host groups.
    groups = ({"groups": {"createMissing": True}} if api.release == "6.0"
              else {"template_groups": {"createMissing": True}})
    rules = {**groups, "templates": both,
             "valueMaps": dict(both, deleteMissing=True),
             "items": dict(both, deleteMissing=True),
             "triggers": dict(both, deleteMissing=True),
             "graphs": dict(both, deleteMissing=True),
             "templateDashboards": dict(both, deleteMissing=True),
             "templateLinkage": {"createMissing": True}}
    api.call("configuration.import",
             {"format": "yaml", "source": source, "rules": rules})
    return template_id(api)


def template_id(api):
    template = api.call("template.get", {"filter": {"host": [TEMPLATE]}})
    if not template:
        raise SystemExit(f"o template '{TEMPLATE}' não apareceu após a importação")
    return template[0]["templateid"]


def link_hosts(api, pairs, batch=25):
    """Hosts named HOST=ADDRESS, in batches."""
    addresses = dict(pair.split("=", 1) for pair in pairs)
    names = list(addresses)
    template = template_id(api)
    for first in range(0, len(names), batch):
        create_hosts(api, names[first:first + batch], [template], addresses)


def import_template(api, port, yaml_path, hosts):
    created = create_hosts(api, hosts, [import_yaml(api, yaml_path)])
    # Each marker is created after its host's template items, so once the
    # trapper takes it the server's cache holds the whole host.
    markers = [trapper_item(api, hostid, MARKER_KEY)
               for hostid in created.values()]
    each = len(created) <= 10  # a long list would bury a test's findings
    for host in created:
        if not accepted(port, host, MARKER_KEY, 30):
            raise SystemExit(f"o servidor não passou a aceitar o host {host} em 30 s")
        if each:
            print(f"[zabbix-test] host {host} criado com o template {TEMPLATE}",
                  file=sys.stderr)
    if not each:
        print(f"[zabbix-test] {len(created)} hosts criados com o template {TEMPLATE}",
              file=sys.stderr)
    if markers:
        api.call("item.delete", markers)


def export(api, yaml_path, timeout):
    """The template in the format of the server's release, the external
    item bounded by timeout: a 6.0 file cannot carry it into 7.0, whose
    import drops the timeout of every item but HTTP agent and script."""
    template = import_yaml(api, yaml_path)
    external = api.call("item.get", {"templateids": [template],
                                     "filter": {"type": 10},
                                     "output": ["itemid"]})
    if len(external) != 1:
        raise SystemExit("o template deveria ter um só item externo")
    api.call("item.update", {"itemid": external[0]["itemid"],
                             "timeout": timeout})
    print(api.call("configuration.export", {
        "format": "yaml", "options": {"templates": [template]}}), end="")


def dashboard(api, host):
    """The host's id and the first dashboard of the template it links.

    Also makes the release's own English the default language: the only
    one the frontend shows without a system locale (British in 6.0, US in
    7.0; others print a warning over every widget)."""
    api.call("settings.update",
             {"default_lang": "en_GB" if api.release == "6.0" else "en_US"})
    found = api.call("host.get", {"filter": {"host": [host]},
                                  "selectParentTemplates": ["templateid"]})
    if not found:
        raise SystemExit(f"o host {host} não existe")
    templates = [t["templateid"] for t in found[0]["parentTemplates"]]
    boards = api.call("templatedashboard.get",
                      {"templateids": templates, "output": ["dashboardid"]})
    if not boards:
        raise SystemExit(f"o template do host {host} não tem dashboard")
    print(found[0]["hostid"], boards[0]["dashboardid"])


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    api = Api(argv[1])
    command = argv[2]
    if command == "ping":
        api.call("apiinfo.version", {})
    elif command == "ready-host":
        api.login()
        for hostid in create_hosts(api, [READY_HOST]).values():
            trapper_item(api, hostid, READY_KEY)
    elif command == "proxy" and len(argv) in (4, 6):
        api.login()
        register_proxy(api, *argv[3:])
    elif command == "template" and len(argv) == 4:
        api.login()
        import_yaml(api, argv[3])
    elif command == "link" and len(argv) >= 4:
        api.timeout = 600  # linking a template is slow on a busy machine
        api.login()
        link_hosts(api, argv[3:])
    elif command == "import" and len(argv) >= 6:
        api.login()
        import_template(api, argv[3], argv[4], argv[5:])
    elif command == "export" and len(argv) == 5:
        api.login()
        export(api, argv[3], argv[4])
    elif command == "dashboard" and len(argv) == 4:
        api.login()
        dashboard(api, argv[3])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
