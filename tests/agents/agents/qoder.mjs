// Qoder CLI cannot be driven offline: qodercli 1.1.52 asks for a Qoder sign-in before it runs any
// prompt ("Not logged in · Please run /login"), so it is neither installed nor run.
export default {
  name: 'qoder', title: 'Qoder CLI', package: '@qoder-ai/qodercli', version: '1.1.52',
  unavailable: 'qodercli 1.1.52 needs a Qoder account before it runs a prompt ("Not logged in · Please run /login"); ' +
    'it cannot be driven against a local stand-in',
};
