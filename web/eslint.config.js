// The lint of the workbench's page scripts (web/src): `npm run lint` here,
// and CI. The recommended rules, for modules that run in the browser.
import js from '@eslint/js';
import globals from 'globals';

export default [
  {
    files: ['src/**/*.mjs', 'src/**/*.js'],
    ...js.configs.recommended,
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: 'module',
      globals: { ...globals.browser },
    },
    rules: {
      ...js.configs.recommended.rules,
      eqeqeq: ['error', 'always', { null: 'ignore' }],
      'no-var': 'error',
      'prefer-const': 'error',
      'no-unused-vars': ['error', { args: 'after-used', argsIgnorePattern: '^_' }],
    },
  },
];
