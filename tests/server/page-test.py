#!/usr/bin/python3
"""The service's page in a real browser (headless Chromium through
chromium-driver): log in, type a message with a tag, see the LED preview,
send it and see each panel's outcome; the same page on a phone's screen.
  tests/server/page-test.py BIN_DIR [SCREENSHOT_DIR]
"""
import os, subprocess, sys, tempfile, time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

bin_dir = sys.argv[1]
shots = sys.argv[2] if len(sys.argv) > 2 else None
work = tempfile.mkdtemp()
procs = []


def start(args, **kw):
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, **kw)
    procs.append(p)
    return p


try:
    emulator = start([os.path.join(bin_dir, "letreiro-cli"), "painel", "--endereco", "1,2"])
    device = emulator.stdout.readline().strip()
    config = os.path.join(work, "letreiro.ini")
    with open(config, "w", encoding="utf-8") as f:
        f.write(f"[servidor]\nescuta = 127.0.0.1:0\n\n[linha sala]\nporta = {device}\n\n"
                "[painel entrada]\nlinha = sala\nendereco = 1\n\n"
                "[painel caixa]\nlinha = sala\nendereco = 2\n")
    servidor = os.path.join(bin_dir, "letreiro-servidor")
    subprocess.run([servidor, "--config", config, "--usuario", "ana"], input="segredo\n",
                   text=True, check=True, stdout=subprocess.DEVNULL)
    server = start([servidor, "--config", config])
    url = server.stdout.readline().strip()

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1100,1000"):
        options.add_argument(a)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    wait = WebDriverWait(browser, 30)
    try:
        browser.get(url)
        browser.find_element(By.NAME, "usuario").send_keys("ana")
        browser.find_element(By.NAME, "senha").send_keys("segredo")
        browser.find_element(By.ID, "entrar").click()
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "input[name=painel]")) == 2)
        box = browser.find_element(By.NAME, "texto")
        box.send_keys("Bom dia! ")
        # A tag by name, from its button.
        browser.find_element(By.CSS_SELECTOR, "button[title='<Pisca______>']").click()
        box.send_keys("Ofertas de verão")
        assert box.get_attribute("value") == "Bom dia! <Pisca______>Ofertas de verão", box.get_attribute("value")
        wait.until(lambda b: "Ofertas" in (b.find_element(By.ID, "previa").get_attribute("src") or ""))
        wait.until(lambda b: b.execute_script(
            "const i = document.getElementById('previa'); return i.complete && i.naturalWidth > 0;"))
        time.sleep(1.2)  # the animation moves on before the picture is taken
        if shots:
            browser.save_screenshot(os.path.join(shots, "web.png"))
        browser.find_element(By.ID, "enviar").click()
        wait.until(lambda b: b.find_element(By.ID, "resultados").text.count("Transmissão bem sucedida.") == 2)
        lines = [emulator.stdout.readline().strip() for _ in range(2)]
        assert sorted(lines) == ["endereço 1, verificação certa: LBom dia! <Pisca______>Ofertas de verão",
                                 "endereço 2, verificação certa: LBom dia! <Pisca______>Ofertas de verão"], lines
        wait.until(lambda b: "Bom dia!" in b.find_element(By.ID, "historico").text)
        # The agenda: an entry added by the form, refused with the reason, removed.
        for field, value in (("agNome", "abertura"), ("agDias", "seg,sex"), ("agValor", "Aberto; entre")):
            browser.find_element(By.ID, field).send_keys(value)
        browser.execute_script("document.getElementById('agQuando').value = '08:00'")
        browser.find_element(By.ID, "agAdicionar").click()
        wait.until(lambda b: "Aberto; entre" in b.find_element(By.ID, "agenda").text)
        if shots:
            browser.execute_script("document.getElementById('formAgenda').scrollIntoView()")
            browser.save_screenshot(os.path.join(shots, "web-agenda.png"))
        for field, value in (("agNome", "ruim"), ("agPaineis", "ninguem"), ("agValor", "x")):
            browser.find_element(By.ID, field).clear()
            browser.find_element(By.ID, field).send_keys(value)
        browser.find_element(By.ID, "agAdicionar").click()
        wait.until(lambda b: "não existe" in b.find_element(By.ID, "erroAgenda").text)
        browser.find_element(By.CSS_SELECTOR, "button[aria-label='Remover abertura']").click()
        wait.until(lambda b: "abertura" not in b.find_element(By.ID, "agenda").text)
        # A phone's screen: nothing wider than the screen, the controls reachable.
        browser.set_window_size(390, 844)
        time.sleep(0.5)
        width = browser.execute_script("return document.documentElement.scrollWidth")
        assert width <= 390, f"the page is {width} px wide on a 390 px screen"
        if shots:
            browser.save_screenshot(os.path.join(shots, "web-phone.png"))
        print("page in a browser: ok")
    finally:
        browser.quit()
finally:
    for p in procs:
        p.terminate()
        p.wait(10)
