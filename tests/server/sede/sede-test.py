#!/usr/bin/python3
"""The head office against real site services on a real broker: a group send
to three sites (one offline, one panel that answers NAK) gives a row per
panel that ends enviado, falhou with its reason, and "aguardando o sítio"
then "sem resposta" at the deadline; a repeat only of what failed; a user
limited to one site reads and sends nowhere else, a reader sends nothing
(the API says no); every send in the audit; /metrics as promtool reads it;
a site behind a regional broker bridged over MQTT 5 works the same.
  tests/server/sede/sede-test.py BIN_DIR
"""
import os, pathlib, shutil, signal, subprocess, sys, urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet import Client, Fleet, until  # noqa: E402

fleet = Fleet(sys.argv[1])
try:
    # Its ACL keeps every anonymous client off loja9's topics.
    acl = os.path.join(fleet.work, "acl")
    with open(acl, "w") as f:
        f.write("topic deny letreiro/loja9/#\ntopic readwrite #\n")
    central = fleet.broker("central", f"acl_file {acl}\n")
    # A regional broker that carries its sites' topics and the head office's
    # answers to and from the central one.
    regional = fleet.broker("regional", f"connection central\naddress 127.0.0.1:{central}\n"
                            "bridge_protocol_version mqttv50\ntopic letreiro/# both 1\n"
                            "topic letreiro-sede/# both 1\ncleansession false\n")
    loja1 = fleet.site("loja1", central, {"a": (fleet.panel(), {"entrada": (1, 0), "caixa": (2, 5)})})
    loja2 = fleet.site("loja2", central, {"a": (fleet.panel(addresses="1"), {"entrada": (1, 0)}),
                                          "b": (fleet.panel("nak", "1"), {"vitrine": (1, 0)})})
    loja3 = fleet.site("loja3", central, {"a": (fleet.panel(addresses="1"), {"entrada": (1, 0)})})
    loja4 = fleet.site("loja4", regional, {"a": (fleet.panel(addresses="1"), {"entrada": (1, 0)})})
    sede = fleet.service("sede", f"[sede]\nservidor = 127.0.0.1:{central}\nnome = central\n"
                         "validade = 4s\nsitios = loja4, loja9\n[grupo sul]\nsitios = loja1, loja2, loja3\n",
                         [("chefe",), ("ana", "--sitios", "loja1", "--leitura", "não"), ("leo", "--leitura", "sim"), ("prometheus",)])
    chefe = Client(sede.url, "chefe")

    def sites():
        return {s["sitio"]: s for s in chefe.get("/api/sede/sitios")["sitios"]}

    until("every site online", lambda: all(sites().get(s, {}).get("estado") == "online"
                                           for s in ("loja1", "loja2", "loja3", "loja4")))
    assert sites()["loja9"]["estado"] == "nunca visto", sites()["loja9"]
    assert chefe.get("/api/sede/sitios/loja2")["paineis"][1]["tipo"] == 0

    # loja3 dies: its will says so, and it comes first in the list.
    loja3.send_signal(signal.SIGKILL)
    until("loja3 offline", lambda: sites()["loja3"]["estado"] == "offline")
    assert chefe.get("/api/sede/sitios")["sitios"][0]["sitio"] == "loja3"

    status, send, _ = chefe.call("POST", "/api/sede/envios", {"grupo": "sul", "texto": "Liquidação de inverno"})
    assert status == 202, (status, send)
    rows = {(r["sitio"], r["painel"]): r for r in send["linhas"]}
    assert set(rows) == {("loja1", "entrada"), ("loja1", "caixa"), ("loja2", "entrada"),
                         ("loja2", "vitrine"), ("loja3", "entrada")}, rows
    assert rows[("loja3", "entrada")]["motivo"].startswith("aguardando o sítio (expira às "), rows

    def final(i):
        s = chefe.get("/api/sede/envios/" + i)
        return None if s["aberto"] else s

    done = until("every row ended", lambda: final(send["id"]))
    rows = {(r["sitio"], r["painel"]): r for r in done["linhas"]}
    for key in [("loja1", "entrada"), ("loja1", "caixa"), ("loja2", "entrada")]:
        assert rows[key]["resultado"] == "enviado", rows[key]
    assert rows[("loja2", "vitrine")]["resultado"] == "falhou" and rows[("loja2", "vitrine")]["motivo"], rows
    assert rows[("loja3", "entrada")]["resultado"] == "sem resposta", rows
    assert done["resumo"] == "3 de 5 enviados, 1 falhou, 1 sem resposta", done["resumo"]
    panel = next(p for p in chefe.get("/api/sede/sitios/loja1")["paineis"] if p["painel"] == "entrada")
    assert panel["ultimo"]["texto"] == "Liquidação de inverno", panel
    status, svg, _ = chefe.call("GET", "/api/sede/previa?sitio=loja1&painel=entrada")
    assert status == 200 and svg.startswith("<?xml") or "<svg" in svg[:300], svg[:200]

    # Again, only where it did not arrive.
    status, again, _ = chefe.call("POST", f"/api/sede/envios/{send['id']}/repetir", {})
    assert status == 202 and again["repete"] == send["id"], again
    assert sorted((r["sitio"], r["painel"]) for r in again["linhas"]) == [("loja2", "vitrine"), ("loja3", "entrada")]

    # Who may do what, at the API.
    ana = Client(sede.url, "ana")
    assert [s["sitio"] for s in ana.get("/api/sede/sitios")["sitios"]] == ["loja1"]
    assert ana.call("GET", "/api/sede/sitios/loja2")[0] == 404
    assert ana.call("GET", "/api/sede/envios/" + send["id"])[0] == 404
    assert ana.call("POST", "/api/sede/envios", {"sitios": ["loja2"], "texto": "x"})[0] == 403
    assert ana.call("POST", "/api/sede/envios", {"alvos": [{"sitio": "loja2", "painel": "entrada"}], "texto": "x"})[0] == 403
    assert ana.get("/api/sede/envios") == []
    leo = Client(sede.url, "leo")
    assert leo.call("POST", "/api/sede/envios", {"texto": "x"})[0] == 403
    assert leo.call("POST", f"/api/sede/envios/{send['id']}/repetir", {})[0] == 403

    # A publication the broker's ACL refuses ends its row at once, with why.
    status, refused, _ = chefe.call("POST", "/api/sede/envios", {"sitios": ["loja9"], "paineis": ["entrada"], "texto": "x"})
    refused = until("the broker's refusal", lambda: final(refused["id"]))
    assert refused["linhas"][0]["resultado"] == "recusado", refused
    assert "o broker recusou a publicação" in refused["linhas"][0]["motivo"], refused

    # A site behind the regional broker, answered through the bridge.
    status, far, _ = chefe.call("POST", "/api/sede/envios", {"sitios": ["loja4"], "comando": "hora"})
    assert status == 202, far
    far = until("loja4 answered", lambda: final(far["id"]))
    assert far["linhas"][0]["resultado"] == "enviado", far

    # The audit: every send, who and every row's end, also in the file.
    audit = chefe.get("/api/sede/envios")
    assert [a["id"] for a in audit[-2:]] == [again["id"], send["id"]] and audit[-1]["quem"] == "chefe", audit
    assert len(audit) == 4, audit
    chefe.get("/api/saude")
    kept = pathlib.Path(sede.conf).with_name("sede-envios.json").read_text(encoding="utf-8")
    assert send["id"] in kept and "sem resposta" in kept, kept[:300]

    # /metrics, head office and site, as Prometheus reads them.
    fleet.admin(loja1.conf, "prometheus")
    assert shutil.which("promtool"), "promtool is missing: run scripts/install-deps"
    for service in (sede, loja1):
        scraper = Client(service.url, token=fleet.token(service.conf, "prometheus"))
        # A token made while the service runs counts once it reads the users again.
        status, text, _ = until("metrics", lambda: (r := scraper.call("GET", "/metrics"))[0] == 200 and r)
        check = subprocess.run(["promtool", "check", "metrics"], input=text, text=True, capture_output=True)
        assert check.returncode == 0, check.stdout + check.stderr
        assert ('letreiro_sede_sitio_online{sitio="loja3"} 0' in text) == (service is sede), text
    assert Client(sede.url).call("GET", "/metrics")[0] == 401
    # A head office without panels of its own opens on its page.
    assert urllib.request.urlopen(sede.url + "/").geturl().endswith("/sede")
    rules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../exemplos/letreiro-alertas.yml")
    check = subprocess.run(["promtool", "check", "rules", rules], text=True, capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
    print("sede: group send, repeat, access, audit, metrics and bridge as expected")
finally:
    fleet.stop()
