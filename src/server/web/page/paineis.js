// The panels, each with its last outcome, to tick. None is ticked on a
// first visit; afterwards those last sent to, remembered by the browser.
import {$, api, el, textoResultado} from "./comum.js";

const chaveGuardada = "letreiro.paineis";
let tipos = new Map(); // panel → type
let aoMudar = () => {};

export const quandoMudarem = (f) => { aoMudar = f; };

export function marcados() {
  return [...document.querySelectorAll("input[name=painel]:checked")].map((c) => c.value);
}

// The types of the ticked panels; of every panel when none is.
export function tiposMarcados() {
  const nomes = marcados();
  return [...new Set((nomes.length ? nomes : [...tipos.keys()]).map((n) => tipos.get(n)))];
}

export function lembrar(nomes) {
  try { localStorage.setItem(chaveGuardada, JSON.stringify(nomes)); } catch (e) { /* private mode */ }
}

function lembrados() {
  try { return new Set(JSON.parse(localStorage.getItem(chaveGuardada) || "[]")); } catch (e) { return new Set(); }
}

export async function carregarPaineis() {
  const lista = await api("GET", "/api/paineis");
  const caixa = $("paineis");
  // What is ticked now wins over what was remembered (a reload after a
  // session ended keeps the user's choice).
  const agora = marcados();
  const escolha = caixa.children.length ? new Set(agora) : lembrados();
  tipos = new Map(lista.map((p) => [p.nome, p.tipo]));
  caixa.replaceChildren();
  for (const p of lista) {
    const marca = el("input", [], {type: "checkbox", name: "painel", value: p.nome, id: "p-" + p.nome});
    marca.checked = escolha.has(p.nome);
    marca.addEventListener("change", () => aoMudar());
    const ultimo = p.ultimo
      ? el("span", textoResultado(p.ultimo), {class: "ultimo " + (p.ultimo.ok ? "ok" : "falha")})
      : el("span", "nada enviado ainda", {class: "ultimo"});
    caixa.appendChild(el("div", [el("label", [marca, p.nome], {for: "p-" + p.nome}), ultimo], {class: "painel"}));
  }
  aoMudar();
}
