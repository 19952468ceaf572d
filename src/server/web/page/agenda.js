// The agenda: the entries as cards on a phone, the configuration's own
// shown but not editable, new ones by a form that checks each field where
// it is typed (the error beside it) before the service is asked.
import {$, api, el} from "./comum.js";
import {nomesMensagens} from "./biblioteca.js";

const dias = ["seg", "ter", "qua", "qui", "sex", "sab", "dom"];
const comandos = ["para", "inicia", "apaga", "hora", "data"];
let agenda = [];
let paineis = [];

export async function carregarAgenda() {
  [agenda, paineis] = await Promise.all([api("GET", "/api/agenda"), api("GET", "/api/paineis")]);
  const corpo = $("agenda");
  corpo.replaceChildren();
  if (agenda.length === 0) corpo.appendChild(el("tr", el("td", "Nenhuma entrada.", {colspan: "6"})));
  for (const e of agenda) {
    const acao = ["texto", "mensagem", "comando"].find((k) => k in e);
    const remover = e.fixa ? el("span", "(da configuração)")
      : el("button", "Remover", {type: "button", "aria-label": "Remover " + e.nome});
    if (!e.fixa) remover.addEventListener("click", () => gravarAgenda(agenda.filter((x) => x !== e)));
    const celula = (rotulo, v) => el("td", v, {"data-rotulo": rotulo});
    corpo.appendChild(el("tr", [celula("Nome", e.nome), celula("Quando", e.quando),
      celula("Dias", e.dias || e.datas || "todos"), celula("Painéis", e.paineis),
      celula("O quê", [`${acao}: ${e[acao]}`, ...(e.avisos || []).map((a) => el("span", " Atenção: " + a, {class: "aviso"}))]),
      el("td", remover)]));
  }
}

async function gravarAgenda(entradas) {
  $("erroAgenda").textContent = "";
  try {
    await api("PUT", "/api/agenda", entradas.filter((e) => !e.fixa).map(({fixa, ...resto}) => resto));
    await carregarAgenda();
    return true;
  } catch (err) {
    if (err.status !== 401) $("erroAgenda").textContent = err.message;
    return false;
  }
}

// Each field's complaint, or "" when it is fine.
function verificar() {
  const nome = $("agNome").value.trim();
  const lista = (id) => $(id).value.split(",").map((x) => x.trim().toLowerCase()).filter((x) => x);
  const conhecidos = new Set(paineis.map((p) => p.nome));
  const acao = $("agAcao").value, valor = $("agValor").value.trim();
  const erros = {
    agNome: !nome ? "Dê um nome à entrada."
      : agenda.some((e) => e.nome === nome) ? `Já há uma entrada chamada ${nome}.` : "",
    agQuando: /^([01]?\d|2[0-3]):[0-5]\d$/.test($("agQuando").value) ? "" : "Diga a hora, como 08:00.",
    agDias: lista("agDias").filter((d) => !dias.includes(d.replace("á", "a")))
      .map((d) => `"${d}" não é um dia: use seg, ter, qua, qui, sex, sab, dom.`)[0] || "",
    agPaineis: lista("agPaineis").filter((p) => p !== "todos" && !conhecidos.has(p))
      .map((p) => `O painel ${p} não existe.`)[0] || "",
    agValor: !valor ? "Falta o texto, a mensagem ou o comando."
      : acao === "mensagem" && !nomesMensagens.includes(valor) ? `A mensagem ${valor} não está na biblioteca.`
      : acao === "comando" && !comandos.includes(valor) ? "Comandos: para, inicia, apaga, hora ou data." : ""
  };
  for (const [id, erro] of Object.entries(erros)) {
    $(id + "Erro").textContent = erro;
    if (erro) $(id).setAttribute("aria-invalid", "true"); else $(id).removeAttribute("aria-invalid");
  }
  return Object.keys(erros).find((id) => erros[id]);
}

export function iniciarAgenda() {
  $("formAgenda").addEventListener("submit", async (ev) => {
    ev.preventDefault();
    const errado = verificar();
    if (errado) {
      $(errado).focus();
      return;
    }
    const nova = {nome: $("agNome").value.trim(), quando: $("agQuando").value,
      paineis: $("agPaineis").value.trim() || "todos"};
    if ($("agDias").value.trim()) nova.dias = $("agDias").value.trim();
    nova[$("agAcao").value] = $("agValor").value;
    if (await gravarAgenda([...agenda, nova])) {
      $("agNome").value = "";
      $("agValor").value = "";
    }
  });
  // A field that was wrong is looked at again as soon as it changes.
  for (const id of ["agNome", "agQuando", "agDias", "agPaineis", "agValor"])
    $(id).addEventListener("change", () => { if ($(id).getAttribute("aria-invalid")) verificar(); });
}
