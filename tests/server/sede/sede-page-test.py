#!/usr/bin/python3
"""The head office's page in headless Chromium: the sites with the offline
one first, a site's panels with what they show, a send to a group whose
rows and rollup follow the answers live, by keyboard only; axe-core finds
no violation of any impact in any view; on a 375 px phone nothing scrolls
sideways and every target is at least 44 px.
  tests/server/sede/sede-page-test.py BIN_DIR [SCREENSHOT_DIR]
"""
import os, signal, sys

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "../web")]
from fleet import Fleet  # noqa: E402
import pagechecks  # noqa: E402

shots = sys.argv[2] if len(sys.argv) > 2 else None
fleet = Fleet(sys.argv[1])

def checked(view):
    pagechecks.axe_clean(browser, view)
    browser.set_window_size(375, 667)
    pagechecks.phone_ok(browser, view)
    if shots:
        browser.save_screenshot(os.path.join(shots, f"sede-{view}-telefone.png"))
    browser.set_window_size(1100, 1000)
    if shots:
        browser.save_screenshot(os.path.join(shots, f"sede-{view}.png"))


def by_id(i):
    return browser.find_element(By.ID, i)


def text(i):
    return by_id(i).text


try:
    broker = fleet.broker("broker")
    fleet.site("loja1", broker, {"a": (fleet.panel(), {"entrada": (1, 0), "caixa": (2, 5)})})
    fleet.site("loja2", broker, {"a": (fleet.panel("nak", "1"), {"entrada": (1, 0)})})
    loja3 = fleet.site("loja3", broker, {"a": (fleet.panel(addresses="1"), {"entrada": (1, 0)})})
    sede = fleet.service("sede", f"[sede]\nservidor = 127.0.0.1:{broker}\nvalidade = 3s\n"
                         "[grupo sul]\nsitios = loja1, loja2, loja3\n", [("chefe",)])
    browser = pagechecks.chromium()
    wait = WebDriverWait(browser, 40)
    try:
        browser.get(sede.url + "/")  # a head office with no panels of its own is its page
        wait.until(lambda b: by_id("formEntrar").is_displayed())
        assert browser.current_url == sede.url + "/sede", browser.current_url
        pagechecks.axe_clean(browser, "entrada")
        # Keyboard only: the login, then the views by their links.
        by_id("usuario").send_keys("chefe", Keys.TAB, "segredo-bom", Keys.ENTER)
        wait.until(lambda b: text("sitios").count("online") == 3)
        loja3.send_signal(signal.SIGKILL)
        wait.until(lambda b: "offline desde" in text("sitios"))
        assert text("sitios").splitlines()[0].startswith("loja3"), text("sitios")
        browser.find_element(By.LINK_TEXT, "loja1").send_keys(Keys.ENTER)
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, ".painelSede")) == 2)
        checked("sitios")

        by_id("irEnviar").send_keys(Keys.ENTER)
        wait.until(lambda b: by_id("vistaEnviar").is_displayed())
        Select(by_id("escolhaSitios")).select_by_value("grupo:sul")
        wait.until(lambda b: "loja3" in text("ausentes"))
        by_id("valor").send_keys("Liquidação ✓ de inverno")
        wait.until(lambda b: "enviados como" in text("avisosSede"))
        pagechecks.retype(by_id("valor"), "Liquidação de inverno")
        checked("enviar")
        by_id("enviarSede").send_keys(Keys.ENTER)
        wait.until(lambda b: by_id("vistaEnvio").is_displayed() and "aguardando o sítio" in text("linhas"))
        # The rows move on their own until the last one ends.
        wait.until(lambda b: "aguardando respostas" not in text("resumo") and "de 4 enviados" in text("resumo"))
        assert text("resumo") == "2 de 4 enviados, 1 falhou, 1 sem resposta", text("resumo")
        assert "falhou: " in text("linhas") and "sem resposta" in text("linhas"), text("linhas")
        checked("envio")
        by_id("repetir").send_keys(Keys.ENTER)
        wait.until(lambda b: "de 2 enviados" in text("resumo"))
        # One panel ticked by hand, a command.
        by_id("irEnviar").send_keys(Keys.ENTER)
        wait.until(lambda b: by_id("vistaEnviar").is_displayed())
        Select(by_id("escolhaPaineis")).select_by_value("marcar")
        wait.until(lambda b: "loja1: caixa" in text("marcarPaineis"))
        box = browser.find_element(By.XPATH, "//label[contains(., 'loja1: caixa')]/input")
        box.send_keys(Keys.SPACE)
        Select(by_id("acao")).select_by_value("comando")
        pagechecks.retype(by_id("valor"), "apaga")
        by_id("enviarSede").send_keys(Keys.ENTER)
        wait.until(lambda b: by_id("vistaEnvio").is_displayed() and text("resumo").startswith("1 de 1 enviados"))
        by_id("irEnvios").send_keys(Keys.ENTER)
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#envios tr")) == 3)
        checked("envios")
    finally:
        browser.quit()
    print("sede page: sites, group send live, keyboard, axe-core and phone as expected")
finally:
    fleet.stop()
