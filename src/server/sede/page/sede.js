// The head office's page: every site at a glance (the offline first), a
// site's panels as they show now, one send to many sites with a row per
// panel that follows the answers live, and every send kept.
import {$, api, el} from "./comum.js";
import {iniciarSessao} from "./sessao.js";

const vistas = {sitios: "vistaSitios", enviar: "vistaEnviar", envios: "vistaEnvios", envio: "vistaEnvio"};
let dados = {sitios: [], grupos: [], leitura: false, validade: 600};
let acompanhando = null; // the send whose rows are on screen

const hora = (iso) => iso ? new Date(iso).toLocaleTimeString("pt-BR", {hour: "2-digit", minute: "2-digit"}) : "";
const classe = (palavra) => (palavra || "").split(" ")[0];
const duracao = (s) => s >= 3600 ? `${Math.round(s / 3600)} h` : s >= 60 ? `${Math.round(s / 60)} min` : `${s} s`;

function estadoSitio(s) {
  if (s.estado === "offline") return `offline desde ${hora(s.desde)}`;
  if (s.estado === "desatualizado") return `desatualizado (última notícia às ${hora(s.desde) || "?"})`;
  return s.estado;
}

function mostrarVista() {
  if (!$("entrada").classList.contains("oculto")) return;
  const [qual, id] = location.hash.slice(1).split("/");
  const vista = vistas[qual] ? qual : "sitios";
  for (const [nome, secao] of Object.entries(vistas)) $(secao).classList.toggle("oculto", nome !== vista);
  for (const nome of ["sitios", "enviar", "envios"]) {
    const link = $("ir" + nome[0].toUpperCase() + nome.slice(1));
    if (nome === vista || (vista === "envio" && nome === "envios")) link.setAttribute("aria-current", "page");
    else link.removeAttribute("aria-current");
  }
  if (vista === "sitios") carregarSitios(id).catch(() => {});
  if (vista === "envios") carregarEnvios().catch(() => {});
  if (vista === "envio" && id) acompanhar(decodeURIComponent(id));
}

async function carregarSitios(aberto) {
  dados = await api("GET", "/api/sede/sitios");
  const m = dados.mqtt;
  $("ligacao").textContent = m.estado === "conectado" ? "" : `Broker: ${m.estado} — ${m.motivo}`;
  $("sitios").replaceChildren(...dados.sitios.map((s) => el("tr", [
    el("td", el("a", s.sitio, {href: "#sitios/" + encodeURIComponent(s.sitio)}), {"data-rotulo": "Sítio"}),
    el("td", estadoSitio(s), {"data-rotulo": "Estado", class: "estado-" + classe(s.estado)}),
    el("td", String(s.paineis), {"data-rotulo": "Painéis"}),
    el("td", s.pior || "—", {"data-rotulo": "Pior resultado", class: "resultado-" + classe(s.pior)})])));
  preencherEscolha();
  if (aberto) await abrirSitio(decodeURIComponent(aberto));
  else $("sitio").classList.add("oculto");
}

async function abrirSitio(nome) {
  const s = await api("GET", "/api/sede/sitios/" + encodeURIComponent(nome));
  $("tituloSitio").textContent = `${s.sitio}: ${estadoSitio(s)}`;
  $("paineisSitio").replaceChildren(...s.paineis.map((p) => {
    const u = p.ultimo;
    const quando = u && u.quando ? ` às ${hora(u.quando)}` : "";
    const fim = u ? `${u.resultado}${u.motivo ? ": " + u.motivo : ""}${quando}` : "ainda sem notícia";
    const partes = [el("h4", `${p.painel} (tipo ${p.tipo}, linha ${p.linha || "?"})`),
      el("p", `Último: ${fim}`, {class: "resultado-" + classe(u && u.resultado)})];
    if (u && u.texto !== undefined)
      partes.push(el("img", [], {alt: `O que ${p.painel} mostra agora: ${u.texto}`,
        src: `/api/sede/previa?sitio=${encodeURIComponent(s.sitio)}&painel=${encodeURIComponent(p.painel)}`}));
    return el("div", partes, {class: "painelSede"});
  }));
  $("sitio").classList.remove("oculto");
  $("tituloSitio").focus();
}

function preencherEscolha() {
  const atual = $("escolhaSitios").value;
  const opcoes = [el("option", "todos os sítios", {value: "todos"})];
  for (const g of dados.grupos) opcoes.push(el("option", `grupo ${g.grupo} (${g.sitios.join(", ")})`, {value: "grupo:" + g.grupo}));
  opcoes.push(el("option", "marcar à mão", {value: "marcar"}));
  $("escolhaSitios").replaceChildren(...opcoes);
  if ([...$("escolhaSitios").options].some((o) => o.value === atual)) $("escolhaSitios").value = atual;
  const marcados = new Set([...document.querySelectorAll("#marcarSitios input:checked")].map((c) => c.value));
  $("marcarSitios").replaceChildren(...dados.sitios.map((s, i) => el("label", [
    Object.assign(el("input", [], {type: "checkbox", value: s.sitio, id: "marca" + i}), {checked: marcados.has(s.sitio)}),
    `${s.sitio} (${estadoSitio(s)})`])));
  $("soLeitura").classList.toggle("oculto", !dados.leitura);
  $("enviarSede").disabled = dados.leitura;
  escolhaMudou();
}

function sitiosEscolhidos() {
  const v = $("escolhaSitios").value;
  if (v === "todos") return dados.sitios.map((s) => s.sitio);
  if (v.startsWith("grupo:")) return (dados.grupos.find((g) => g.grupo === v.slice(6)) || {sitios: []}).sitios;
  return [...document.querySelectorAll("#marcarSitios input:checked")].map((c) => c.value);
}

// The chosen sites' panels, each a box to tick (kept ticked across a reload).
async function mostrarPaineis() {
  const modo = $("escolhaPaineis").value;
  $("porNome").classList.toggle("oculto", modo !== "nome");
  $("marcarPaineis").classList.toggle("oculto", modo !== "marcar");
  if (modo !== "marcar") return;
  const marcados = new Set([...document.querySelectorAll("#marcarPaineis input:checked")].map((c) => c.value));
  const caixas = [];
  for (const nome of sitiosEscolhidos()) {
    let s;
    try { s = await api("GET", "/api/sede/sitios/" + encodeURIComponent(nome)); } catch (e) { continue; }
    for (const p of s.paineis) {
      const valor = JSON.stringify({sitio: s.sitio, painel: p.painel});
      caixas.push(el("label", [Object.assign(el("input", [], {type: "checkbox", value: valor, id: "painel" + caixas.length}),
        {checked: marcados.has(valor)}), `${s.sitio}: ${p.painel}`]));
    }
  }
  $("marcarPaineis").replaceChildren(...caixas);
}

// Before the send: which chosen sites are away (their rows will wait for
// them), and the warnings of the text for each panel type among them.
async function escolhaMudou() {
  $("marcarSitios").classList.toggle("oculto", $("escolhaSitios").value !== "marcar");
  mostrarPaineis().catch(() => {});
  const fora = dados.sitios.filter((s) => sitiosEscolhidos().includes(s.sitio) && s.estado !== "online");
  $("ausentes").textContent = fora.length
    ? "Fora do ar agora: " + fora.map((s) => `${s.sitio} (${estadoSitio(s)})`).join("; ") +
      `. Os painéis deles esperam o sítio voltar por até ${duracao(dados.validade)}.` : "";
  await avisos();
}

let pedidoAvisos = 0;
async function avisos() {
  const numero = ++pedidoAvisos;
  if ($("acao").value !== "texto" || !$("valor").value) return $("avisosSede").replaceChildren();
  const tipos = new Set();
  for (const nome of sitiosEscolhidos()) {
    try {
      const s = await api("GET", "/api/sede/sitios/" + encodeURIComponent(nome));
      for (const p of s.paineis) tipos.add(p.tipo);
    } catch (e) { /* a site not listed yet has no types to warn about */ }
  }
  const r = await api("POST", "/api/sede/previa", {texto: $("valor").value, tipos: [...tipos]});
  if (numero !== pedidoAvisos) return;
  const itens = [];
  for (const [tipo, v] of Object.entries(r))
    for (const a of v.avisos) itens.push(el("li", `Painéis tipo ${tipo}: ${a}`));
  $("avisosSede").replaceChildren(...itens);
}

async function enviar() {
  $("erroEnvio").textContent = "";
  let pedido = {};
  const v = $("escolhaSitios").value;
  if (v.startsWith("grupo:")) pedido.grupo = v.slice(6); else if (v === "marcar") pedido.sitios = sitiosEscolhidos();
  const modo = $("escolhaPaineis").value;
  const nomes = $("paineisNome").value.split(",").map((x) => x.trim()).filter(Boolean);
  if (modo === "nome" && nomes.length) pedido.paineis = nomes;
  if (modo === "marcar")
    pedido = {alvos: [...document.querySelectorAll("#marcarPaineis input:checked")].map((c) => JSON.parse(c.value))};
  pedido[$("acao").value] = $("valor").value.trim() === "" ? "" : $("valor").value;
  $("enviarSede").disabled = true;
  try {
    const r = await api("POST", "/api/sede/envios", pedido);
    location.hash = "envio/" + encodeURIComponent(r.id);
  } catch (e) {
    $("erroEnvio").textContent = e.message;
  } finally {
    $("enviarSede").disabled = dados.leitura;
  }
}

function mostrarEnvio(r) {
  $("tituloEnvio").textContent = `Envio de ${r.quem} às ${hora(r.quando)}: ${r.tipo} "${r.valor}"`;
  $("resumo").textContent = r.resumo + (r.aberto ? " (aguardando respostas)" : "") +
    (r.avisos ? ". " + r.avisos.join("; ") : "");
  $("linhas").replaceChildren(...r.linhas.map((l) => el("tr", [
    el("td", l.sitio, {"data-rotulo": "Sítio"}), el("td", l.painel, {"data-rotulo": "Painel"}),
    el("td", l.resultado + (l.motivo ? ": " + l.motivo : ""), {"data-rotulo": "Resultado", class: "resultado-" + classe(l.resultado)})])));
  $("repetir").classList.toggle("oculto", r.aberto || dados.leitura || !r.linhas.some((l) => l.resultado !== "enviado"));
}

async function acompanhar(id) {
  acompanhando = id;
  let primeira = true;
  while (acompanhando === id && !$("vistaEnvio").classList.contains("oculto")) {
    let r;
    try { r = await api("GET", "/api/sede/envios/" + encodeURIComponent(id)); } catch (e) {
      $("resumo").textContent = e.message;
      return;
    }
    mostrarEnvio(r);
    if (primeira) { $("tituloEnvio").focus(); primeira = false; }
    if (!r.aberto) return;
    await new Promise((ok) => setTimeout(ok, 1000));
  }
}

async function carregarEnvios() {
  const lista = await api("GET", "/api/sede/envios");
  $("envios").replaceChildren(...lista.map((e) => el("tr", [
    el("td", el("a", new Date(e.quando).toLocaleString("pt-BR"), {href: "#envio/" + encodeURIComponent(e.id)}), {"data-rotulo": "Quando"}),
    el("td", e.quem, {"data-rotulo": "Quem"}), el("td", `${e.tipo}: ${e.valor}`, {"data-rotulo": "O quê"}),
    el("td", e.resumo, {"data-rotulo": "Resultado"})])));
}

async function entrou() {
  mostrarVista();
  try { await carregarSitios(); } catch (e) { /* the login says it */ }
}

$("escolhaSitios").addEventListener("change", escolhaMudou);
$("marcarSitios").addEventListener("change", escolhaMudou);
$("paineisNome").addEventListener("change", escolhaMudou);
$("escolhaPaineis").addEventListener("change", mostrarPaineis);
$("acao").addEventListener("change", avisos);
$("valor").addEventListener("input", () => { clearTimeout(avisos.espera); avisos.espera = setTimeout(avisos, 300); });
$("enviarSede").addEventListener("click", enviar);
$("repetir").addEventListener("click", async () => {
  try {
    const r = await api("POST", `/api/sede/envios/${encodeURIComponent(acompanhando)}/repetir`, {});
    location.hash = "envio/" + encodeURIComponent(r.id);
  } catch (e) { $("resumo").textContent = e.message; }
});
window.addEventListener("hashchange", mostrarVista);
// The sites' states move on their own: the list follows every 5 s.
setInterval(() => { if (!$("vistaSitios").classList.contains("oculto")) carregarSitios(location.hash.split("/")[1]).catch(() => {}); }, 5000);
iniciarSessao(entrou);
