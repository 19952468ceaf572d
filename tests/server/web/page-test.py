#!/usr/bin/python3
"""The service's page in a real browser (headless Chromium through
chromium-driver): log in, the effects of the ticked panels' types, the
warnings while typing, one click one send, Ctrl+Enter, outcomes with their
time, the agenda's checks at the field, a session ended by a restart; on a
375 x 667 phone nothing scrolls sideways, every target is at least 44 px and
Enviar is in sight; axe-core finds nothing serious in any view.
  tests/server/web/page-test.py BIN_DIR [SCREENSHOT_DIR]
"""
import os, re, subprocess, sys, tempfile, time

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagechecks  # noqa: E402

bin_dir = sys.argv[1]
shots = sys.argv[2] if len(sys.argv) > 2 else None
work = tempfile.mkdtemp()
procs = []
servidor = os.path.join(bin_dir, "letreiro-servidor")
config = os.path.join(work, "letreiro.ini")


def start(args):
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    procs.append(p)
    return p


def write_config(device, listen):
    # caixa is a wide panel (30 characters): other effects than entrada's.
    with open(config, "w", encoding="utf-8") as f:
        f.write(f"[servidor]\nescuta = {listen}\nmensagens = {work}/mensagens\n\n"
                f"[linha sala]\nporta = {device}\n\n[painel entrada]\nlinha = sala\nendereco = 1\n\n"
                "[painel caixa]\nlinha = sala\nendereco = 2\ntipo = 2\n")


def serve():
    server = start([servidor, "--config", config])
    return server, server.stdout.readline().strip()


def frames(n):
    return sorted(emulator.stdout.readline().strip() for _ in range(n))


def sent(text):
    return [f"endereço {a}, verificação certa: L{text}" for a in (1, 2)]


def by_id(i):
    return browser.find_element(By.ID, i)


def ids_visible(*ids):
    return all(by_id(i).is_displayed() for i in ids)


def tick(*names):
    for box in browser.find_elements(By.CSS_SELECTOR, "input[name=painel]"):
        if box.is_selected() != (box.get_attribute("value") in names):
            browser.find_element(By.CSS_SELECTOR, f"label[for='{box.get_attribute('id')}']").click()


def effects():
    return {b.text for b in browser.find_elements(By.CSS_SELECTOR, "#efeitos button")}


def outcomes(n):
    wait.until(lambda b: by_id("resultados").text.count("Enviado.") == n)
    return by_id("resultados").text


def axe_clean(view):
    pagechecks.axe_clean(browser, view, ["serious", "critical"])


def view(name, ready):
    browser.execute_script(f"location.hash = '{name}'")
    wait.until(lambda b: ids_visible(ready))


try:
    emulator = start([os.path.join(bin_dir, "letreiro-cli"), "painel", "--endereco", "1,2"])
    device = emulator.stdout.readline().strip()
    os.mkdir(os.path.join(work, "mensagens"))
    write_config(device, "127.0.0.1:0")
    subprocess.run([servidor, "--config", config, "--usuario", "ana"], input="segredo\n",
                   text=True, check=True, stdout=subprocess.DEVNULL)
    server, url = serve()

    browser = pagechecks.chromium()
    wait = WebDriverWait(browser, 30)
    try:
        browser.get(url)
        wait.until(lambda b: ids_visible("formEntrar"))
        axe_clean("login")
        by_id("usuario").send_keys("ana")
        by_id("senha").send_keys("segredo")
        by_id("entrar").click()
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "input[name=painel]")) == 2)
        assert by_id("quem").text == "ana"
        # A first visit ticks nothing: a first send cannot go everywhere.
        assert not browser.find_elements(By.CSS_SELECTOR, "input[name=painel]:checked")
        box = by_id("texto")
        box.send_keys("x")
        by_id("enviar").click()
        wait.until(lambda b: "Marque ao menos um painel" in by_id("resultados").text)
        box.clear()

        # The buttons are those the ticked panels' types play, in the menus' words.
        for names, shown in ((("entrada",), {"Roda 4"}), (("caixa",), {"Roda Baixo"}), (("entrada", "caixa"), set())):
            tick(*names)
            wait.until(lambda b: (effects() & {"Roda 4", "Roda Baixo"}) == shown)
        assert {"Prefixos", "Sufixos", "Outros"} <= {h.text for h in browser.find_elements(By.CSS_SELECTOR, "#efeitos h3")}
        assert {"Pisca", "Velocidade 3", "Hora"} <= effects(), effects()

        # A character the panel cannot show is said before anything is sent.
        box.send_keys("Seta → aqui")
        wait.until(lambda b: "→" in by_id("avisos").text and "?" in by_id("avisos").text)
        pagechecks.retype(box, "Bom dia! ")
        browser.find_element(By.CSS_SELECTOR, "button[title='<Pisca______>']").click()
        box.send_keys("Ofertas de verão")
        assert box.get_attribute("value") == "Bom dia! <Pisca______>Ofertas de verão", box.get_attribute("value")
        wait.until(lambda b: by_id("avisos").text == "" and " / 7.500" in by_id("contagem").text)
        wait.until(lambda b: "Ofertas" in (by_id("previa").get_attribute("src") or ""))
        wait.until(lambda b: b.execute_script(
            "const i = document.getElementById('previa'); return i.complete && i.naturalWidth > 0;"))
        axe_clean("main")

        # A double click is one send: the next frames are the next text's.
        ActionChains(browser).double_click(by_id("enviar")).perform()
        text = outcomes(2)
        assert re.search(r"\d\d:\d\d entrada: Enviado\.", text), text
        assert frames(2) == sent("Bom dia! <Pisca______>Ofertas de verão")
        assert browser.switch_to.active_element.get_attribute("id") == "texto"
        if shots:
            time.sleep(1.2)  # the animation moves on before the picture is taken
            browser.save_screenshot(os.path.join(shots, "web.png"))
        # Ctrl+Enter sends from the text box.
        pagechecks.retype(box, "Segunda")
        box.send_keys(Keys.CONTROL, Keys.ENTER)
        outcomes(2)
        assert frames(2) == sent("Segunda")

        # The panels sent to are ticked again on the next visit.
        tick("entrada")
        pagechecks.retype(box, "Só a entrada")
        by_id("enviar").click()
        outcomes(1)
        assert frames(1) == [sent("Só a entrada")[0]]
        browser.refresh()
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "input[name=painel]")) == 2)
        checked = [c.get_attribute("value") for c in browser.find_elements(By.CSS_SELECTOR, "input[name=painel]:checked")]
        assert checked == ["entrada"], checked

        # The agenda: each field checked where it is, then an entry added and removed.
        view("agenda", "formAgenda")
        for field, value in (("agNome", "ruim"), ("agPaineis", "ninguem"), ("agValor", "sumida.msg")):
            pagechecks.retype(by_id(field), value)
        browser.execute_script("document.getElementById('agQuando').value = '08:00'")
        by_id("agAcao").send_keys("mensagem")
        by_id("agAdicionar").click()
        wait.until(lambda b: "não existe" in by_id("agPaineisErro").text)
        assert "não está na biblioteca" in by_id("agValorErro").text
        assert by_id("agPaineis").get_attribute("aria-invalid") == "true"
        by_id("agAcao").send_keys("texto")
        for field, value in (("agNome", "abertura"), ("agDias", "seg,sex"), ("agPaineis", "todos"), ("agValor", "Aberto; entre")):
            pagechecks.retype(by_id(field), value)
        by_id("agAdicionar").click()
        wait.until(lambda b: "Aberto; entre" in by_id("agenda").text)
        assert by_id("agPaineisErro").text == ""
        axe_clean("agenda")
        view("historico", "historico")
        wait.until(lambda b: "Só a entrada" in by_id("historico").text)
        axe_clean("history")

        # A phone: every view fits, every target can be hit with a thumb, and
        # with a panel ticked Enviar is in sight without scrolling.
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                {"width": 375, "height": 667, "deviceScaleFactor": 2, "mobile": True})
        for name, ready in (("historico", "historico"), ("agenda", "formAgenda")):
            view(name, ready)
            pagechecks.phone_ok(browser, name)
        if shots:
            browser.execute_script("window.scrollTo(0, 0)")
            browser.save_screenshot(os.path.join(shots, "web-agenda.png"))
        browser.find_element(By.CSS_SELECTOR, "button[aria-label='Remover abertura']").click()
        wait.until(lambda b: "abertura" not in by_id("agenda").text)
        view("enviar", "texto")
        pagechecks.retype(by_id("texto"), "Bom dia! <Pisca______>Ofertas de verão")
        wait.until(lambda b: "Ofertas" in (by_id("previa").get_attribute("src") or ""))
        browser.execute_script("window.scrollTo(0, 0)")
        pagechecks.phone_ok(browser, "main")
        bottom = browser.execute_script("return document.getElementById('enviar').getBoundingClientRect().bottom")
        assert bottom <= 667, f"Enviar ends at {bottom} px, below a 667 px screen"
        height = browser.execute_script("return document.getElementById('previa').getBoundingClientRect().height")
        assert height >= 80, f"the preview is {height} px tall"
        if shots:
            time.sleep(1.2)
            browser.save_screenshot(os.path.join(shots, "web-phone.png"))

        # A restart ends the session: the next send says so, keeps the text
        # and sends nothing; after the login the text is still there.
        server.terminate()
        server.wait(10)
        write_config(device, url.removeprefix("http://"))
        server, again = serve()
        assert again == url, again
        # Set without an input event: the send, not the warnings' call, meets the end.
        browser.execute_script("document.getElementById('texto').value = 'Depois do reinício'")
        by_id("enviar").click()
        wait.until(lambda b: "Sua sessão terminou. Entre de novo." in by_id("sessaoFim").text)
        assert ids_visible("formEntrar") and by_id("quem").text == ""
        pagechecks.retype(by_id("usuario"), "ana")
        by_id("senha").send_keys("segredo")
        by_id("entrar").click()
        wait.until(lambda b: ids_visible("texto"))
        assert by_id("texto").get_attribute("value") == "Depois do reinício"
        by_id("enviar").click()
        outcomes(1)
        assert frames(1) == [sent("Depois do reinício")[0]]
        print("page in a browser: ok")
    finally:
        browser.quit()
finally:
    for p in procs:
        p.terminate()
        p.wait(10)
