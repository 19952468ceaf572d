// The message library: each message sent to the ticked panels or shown in
// the preview.
import {$, api, el} from "./comum.js";
import {enviarMensagem} from "./envio.js";
import {mostrarPrevia} from "./texto.js";

export let nomesMensagens = [];

export async function carregarMensagens() {
  nomesMensagens = await api("GET", "/api/mensagens");
  const caixa = $("mensagens");
  caixa.replaceChildren();
  if (nomesMensagens.length === 0) caixa.appendChild(el("p", "Nenhuma mensagem guardada."));
  for (const n of nomesMensagens) {
    const enviar = el("button", "Enviar", {type: "button", class: "envia", "aria-label": "Enviar " + n});
    enviar.addEventListener("click", () => enviarMensagem(n));
    const ver = el("button", "Prévia", {type: "button", "aria-label": "Prévia de " + n});
    ver.addEventListener("click", () => mostrarPrevia({arquivo: n}));
    caixa.appendChild(el("div", [el("span", n, {class: "nome"}), enviar, ver], {class: "mensagem"}));
  }
  $("listaMensagens").replaceChildren(...nomesMensagens.map((n) => el("option", [], {value: n})));
}
